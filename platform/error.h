// Numbered errors: the one exception type of the program.
//
// A failure carries a number, a source and a description. Nothing inside the
// program catches it; the boundary where Windows calls the program shows it to
// the user and ends the program.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace quib {

inline constexpr int32_t kErrOverflow = 6;
inline constexpr int32_t kErrOutOfMemory = 7;
inline constexpr int32_t kErrInternal = 51;
inline constexpr int32_t kErrFileNotFound = 53;
inline constexpr int32_t kErrObjectNotSet = 91;
inline constexpr int32_t kErrEntryPointNotFound = 453;
inline constexpr int32_t kErrInitDDE = 10001;

class NumberedError : public std::exception {
  public:
    NumberedError(int32_t number, std::u16string source, std::u16string description);

    int32_t Number() const noexcept { return number_; }
    const std::u16string& Source() const noexcept { return source_; }
    const std::u16string& Description() const noexcept { return description_; }

    // "Error <number> (<source>): <description>", non-ASCII characters as '?'.
    const char* what() const noexcept override { return what_.c_str(); }

  private:
    int32_t number_;
    std::u16string source_;
    std::u16string description_;
    std::string what_;
};

// Error 6, "Overflow": a value exceeded a 16-bit limit. The source is the
// executable name, as for every error the program raises itself.
[[noreturn]] void RaiseOverflow();

// Error 7, "Out of memory", with the executable name as its source.
NumberedError OutOfMemoryError();

// Narrows a position, count or index to the 16 bits the program keeps them in;
// raises error 6 when it does not fit.
int16_t NarrowTo16(int64_t value);

}  // namespace quib
