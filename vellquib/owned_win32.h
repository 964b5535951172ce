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

}  // namespace quib::standin
