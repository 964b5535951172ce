// The Windows kinds of the host libraries' owning types (owned.h).
#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

namespace quib::standin {

struct LibraryFreer {
    using pointer = HMODULE;
    void operator()(HMODULE module) const noexcept { FreeLibrary(module); }
};
// A reference to a loaded library (LoadLibrary, GetModuleHandleEx).
using OwnedModule = std::unique_ptr<std::remove_pointer_t<HMODULE>, LibraryFreer>;

struct LocalFreer {
    void operator()(void* memory) const noexcept { LocalFree(memory); }
};
// Memory that a system call allocated with LocalAlloc (FormatMessage with
// FORMAT_MESSAGE_ALLOCATE_BUFFER).
template <typename T>
using OwnedLocal = std::unique_ptr<T, LocalFreer>;

struct HandleCloser {
    using pointer = HANDLE;
    void operator()(HANDLE handle) const noexcept { CloseHandle(handle); }
};
// A kernel object whose failure is null (CreateFileMapping, OpenFileMapping).
using OwnedHandle = std::unique_ptr<void, HandleCloser>;

struct ViewUnmapper {
    void operator()(void* view) const noexcept { UnmapViewOfFile(view); }
};
// A view of a file mapping (MapViewOfFile).
template <typename T>
using OwnedView = std::unique_ptr<T, ViewUnmapper>;

struct WindowDestroyer {
    using pointer = HWND;
    void operator()(HWND window) const noexcept { DestroyWindow(window); }
};
// A window this code made (CreateWindowEx), destroyed on the thread that
// made it.
using OwnedWindow = std::unique_ptr<std::remove_pointer_t<HWND>, WindowDestroyer>;

}  // namespace quib::standin
