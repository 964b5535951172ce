// Searching 16-bit text for a short needle, for the text analysis.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace quib::text::detail {

// The first c in [p, end), or end. On little-endian machines four characters
// are tested at once in a 64-bit word: a lane equal to c becomes zero after
// the XOR, and the lowest lane flagged by the zero-lane test is the first such
// lane (a borrow only runs upwards from a zero lane).
inline const char16_t* FindChar(const char16_t* p, const char16_t* end, char16_t c) {
    if constexpr (std::endian::native == std::endian::little) {
        constexpr uint64_t kOnes = 0x0001000100010001ull;
        constexpr uint64_t kHighs = 0x8000800080008000ull;
        const uint64_t pattern = kOnes * c;
        for (; end - p >= 4; p += 4) {
            uint64_t word;
            std::memcpy(&word, p, sizeof word);
            const uint64_t x = word ^ pattern;
            const uint64_t zeros = (x - kOnes) & ~x & kHighs;
            if (zeros != 0) {
                return p + std::countr_zero(zeros) / 16;
            }
        }
    }
    for (; p < end; ++p) {
        if (*p == c) {
            return p;
        }
    }
    return end;
}

// Index of the first occurrence of needle in hay, or npos; an empty needle is
// found at 0.
inline size_t Find(std::u16string_view hay, std::u16string_view needle) {
    const size_t n = needle.size();
    if (n == 0) {
        return 0;
    }
    if (n > hay.size()) {
        return std::u16string_view::npos;
    }
    const char16_t* const begin = hay.data();
    const char16_t* const stop = begin + (hay.size() - n) + 1;  // past the last start that fits
    const std::u16string_view rest = needle.substr(1);
    for (const char16_t* p = begin;; ++p) {
        p = FindChar(p, stop, needle[0]);
        if (p == stop) {
            return std::u16string_view::npos;
        }
        if (std::u16string_view(p + 1, n - 1) == rest) {
            return static_cast<size_t>(p - begin);
        }
    }
}

}  // namespace quib::text::detail
