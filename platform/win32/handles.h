// The kinds of Win32 handle the program and its tools own, each closed the way
// Windows wants it. This header is for Windows-side code only (the window, the
// loader's Win32 half, the tests and tools); the portable headers stay free of
// windows.h.
#pragma once

#include <windows.h>

#include "platform/unique_handle.h"

namespace quib::platform {

namespace win32_traits {

// A handle that is null when there is none and is closed by one function.
template <typename T, auto CloseFunction>
struct ClosedBy {
    using pointer = T;
    static T Invalid() noexcept { return nullptr; }
    static void Close(T handle) noexcept { CloseFunction(handle); }
};

// A GDI object: a font, brush, pen, bitmap or region.
template <typename T>
using GdiObject = ClosedBy<T, &DeleteObject>;
// A device context of its own (CreateCompatibleDC).
using MemoryDC = ClosedBy<HDC, &DeleteDC>;
// A loaded library.
using Module = ClosedBy<HMODULE, &FreeLibrary>;
// A kernel object: a process, thread or event.
using KernelHandle = ClosedBy<HANDLE, &CloseHandle>;
// Memory from LocalAlloc, or handed out by a function that allocates with it
// (FormatMessage with FORMAT_MESSAGE_ALLOCATE_BUFFER).
template <typename T>
using LocalMemory = ClosedBy<T*, &LocalFree>;

// A file from CreateFile, which reports failure as INVALID_HANDLE_VALUE, not
// null. (That value is also the pseudo-handle of the current process, which is
// never closed; such a handle belongs in neither kind.)
struct FileHandle : KernelHandle {
    static HANDLE Invalid() noexcept { return INVALID_HANDLE_VALUE; }
};

// A device context from GetDC, given back to the window it came from.
struct WindowDC {
    using pointer = HDC;
    static HDC Invalid() noexcept { return nullptr; }
    void Close(HDC dc) const noexcept { ReleaseDC(window, dc); }
    HWND window = nullptr;
};

}  // namespace win32_traits

template <typename T>
using UniqueGdiObject = UniqueHandle<win32_traits::GdiObject<T>>;
using UniqueWindowDC = UniqueHandle<win32_traits::WindowDC>;
using UniqueMemoryDC = UniqueHandle<win32_traits::MemoryDC>;
using UniqueModule = UniqueHandle<win32_traits::Module>;
using UniqueKernelHandle = UniqueHandle<win32_traits::KernelHandle>;
using UniqueFileHandle = UniqueHandle<win32_traits::FileHandle>;
template <typename T>
using UniqueLocalMemory = UniqueHandle<win32_traits::LocalMemory<T>>;

// The device context of a window's client area (of the screen for nullptr).
inline UniqueWindowDC ClientDC(HWND window) {
    return UniqueWindowDC(GetDC(window), win32_traits::WindowDC{window});
}

}  // namespace quib::platform
