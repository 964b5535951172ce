// The Windows kinds of the host libraries' owning types (owned.h).
#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

namespace quib::standin {

// A handle that one system function closes, null when there is none.
template <typename Handle, auto Close>
struct ClosedBy {
    using pointer = Handle;
    void operator()(Handle handle) const noexcept { Close(handle); }
};

// Memory that one system function gives back.
template <auto Free>
struct FreedBy {
    void operator()(void* memory) const noexcept { Free(memory); }
};

// A reference to a loaded library (LoadLibrary, GetModuleHandleEx).
using OwnedModule =
    std::unique_ptr<std::remove_pointer_t<HMODULE>, ClosedBy<HMODULE, &FreeLibrary>>;
// A kernel object whose failure is null (CreateFileMapping, OpenFileMapping).
using OwnedHandle = std::unique_ptr<void, ClosedBy<HANDLE, &CloseHandle>>;
// A window this code made (CreateWindowEx), destroyed on the thread that
// made it.
using OwnedWindow = std::unique_ptr<std::remove_pointer_t<HWND>, ClosedBy<HWND, &DestroyWindow>>;

// A font this code made (CreateFontIndirect).
using OwnedFont = std::unique_ptr<std::remove_pointer_t<HFONT>, ClosedBy<HFONT, &DeleteObject>>;

// Memory that a system call allocated with LocalAlloc (FormatMessage with
// FORMAT_MESSAGE_ALLOCATE_BUFFER).
template <typename T>
using OwnedLocal = std::unique_ptr<T, FreedBy<&LocalFree>>;
// A view of a file mapping (MapViewOfFile).
template <typename T>
using OwnedView = std::unique_ptr<T, FreedBy<&UnmapViewOfFile>>;

}  // namespace quib::standin
