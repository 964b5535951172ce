// UniqueHandle: owns one handle of the operating system and closes it when it
// goes, in the manner of std::unique_ptr with a deleter.
//
// What a handle is, which value owns nothing and how it is closed come from a
// traits type:
//
//   struct Traits {
//       using pointer = ...;                   // the handle type
//       static pointer Invalid() noexcept;     // the value that owns nothing
//       void Close(pointer handle) noexcept;   // may be static
//   };
//
// The traits object travels with the handle, so a kind that needs more than
// the handle to close it (a device context and its window) keeps that there.
// The Windows kinds are in platform/win32/handles.h.
#pragma once

#include <utility>

namespace quib::platform {

template <typename Traits>
class UniqueHandle {
  public:
    using pointer = typename Traits::pointer;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(pointer handle, Traits traits = Traits()) noexcept
        : handle_(handle), traits_(std::move(traits)) {}

    UniqueHandle(UniqueHandle&& other) noexcept
        : handle_(other.Release()), traits_(std::move(other.traits_)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
            traits_ = std::move(other.traits_);
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    ~UniqueHandle() { Reset(); }

    pointer Get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ != Traits::Invalid(); }

    // Gives the handle up without closing it.
    pointer Release() noexcept { return std::exchange(handle_, Traits::Invalid()); }

    // Closes the handle held (if any) and takes another.
    void Reset(pointer handle = Traits::Invalid()) noexcept {
        const pointer old = std::exchange(handle_, handle);
        if (old != Traits::Invalid()) {
            traits_.Close(old);
        }
    }

    // For a function that hands a new handle out through a pointer: closes the
    // one held and returns where the new one goes.
    pointer* Put() noexcept {
        Reset();
        return &handle_;
    }

  private:
    pointer handle_ = Traits::Invalid();
    Traits traits_;
};

}  // namespace quib::platform
