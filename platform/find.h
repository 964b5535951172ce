// Searching 16-bit text for a short needle, for the text analysis and for the
// program's passes over a whole text buffer.
//
// On x86 the searches test eight characters at a time with SSE2. Every CPU
// that runs a Windows version the program supports has SSE2, so the 32-bit
// build assumes it (-msse2, see the top-level CMakeLists.txt); on x86-64 it is
// part of the architecture. Other machines take the portable path: four
// characters at a time in a 64-bit word on little-endian machines, else one
// at a time.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define QUIB_SSE2 1
#endif

namespace quib::platform {

// FindChar(p, end, c): the first c in [p, end), or end.
// FindPair(p, stop, c0, c1): the first p in [p, stop) where p[0] == c0 and
// p[1] == c1, or stop; stop must lie before the text's end.

// The portable searches, which the other machines use.

// The first c in [p, end), or end. On little-endian machines four characters
// are tested at once in a 64-bit word: a lane equal to c becomes zero after
// the XOR, and the lowest lane flagged by the zero-lane test is the first such
// lane (a borrow only runs upwards from a zero lane).
inline const char16_t* FindCharPortable(const char16_t* p, const char16_t* end, char16_t c) {
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

// The first p in [p, stop) where p[0] == c0 and p[1] == c1, or stop; p[1] is
// read up to and including stop[0], so stop must lie before the text's end.
inline const char16_t* FindPairPortable(const char16_t* p, const char16_t* stop, char16_t c0,
                                        char16_t c1) {
    for (;; ++p) {
        p = FindCharPortable(p, stop, c0);
        if (p == stop || p[1] == c1) {
            return p;
        }
    }
}

#if defined(QUIB_SSE2)

// Eight characters from p, which need not be aligned.
inline __m128i Load8(const char16_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// The index of the first lane set in a mask of _mm_movemask_epi8 over 16-bit
// lanes (two bits per lane).
inline size_t FirstLane(int mask) {
    return static_cast<size_t>(std::countr_zero(static_cast<unsigned>(mask))) / 2;
}

inline const char16_t* FindChar(const char16_t* p, const char16_t* end, char16_t c) {
    const __m128i pattern = _mm_set1_epi16(static_cast<short>(c));
    for (; end - p >= 8; p += 8) {
        const int mask = _mm_movemask_epi8(_mm_cmpeq_epi16(Load8(p), pattern));
        if (mask != 0) {
            return p + FirstLane(mask);
        }
    }
    return FindCharPortable(p, end, c);
}

inline const char16_t* FindPair(const char16_t* p, const char16_t* stop, char16_t c0, char16_t c1) {
    // Both characters are tested in one pass: the block at p against c0 and
    // the block one character later against c1.
    const __m128i first = _mm_set1_epi16(static_cast<short>(c0));
    const __m128i second = _mm_set1_epi16(static_cast<short>(c1));
    for (; stop - p >= 8; p += 8) {
        const __m128i hit =
            _mm_and_si128(_mm_cmpeq_epi16(Load8(p), first), _mm_cmpeq_epi16(Load8(p + 1), second));
        const int mask = _mm_movemask_epi8(hit);
        if (mask != 0) {
            return p + FirstLane(mask);
        }
    }
    return FindPairPortable(p, stop, c0, c1);
}

#else

inline const char16_t* FindChar(const char16_t* p, const char16_t* end, char16_t c) {
    return FindCharPortable(p, end, c);
}

inline const char16_t* FindPair(const char16_t* p, const char16_t* stop, char16_t c0, char16_t c1) {
    return FindPairPortable(p, stop, c0, c1);
}

#endif

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
    if (n == 1) {
        const char16_t* p = FindChar(begin, stop, needle[0]);
        return p == stop ? std::u16string_view::npos : static_cast<size_t>(p - begin);
    }
    const std::u16string_view rest = needle.substr(2);
    for (const char16_t* p = begin;; ++p) {
        p = FindPair(p, stop, needle[0], needle[1]);
        if (p == stop) {
            return std::u16string_view::npos;
        }
        if (std::u16string_view(p + 2, n - 2) == rest) {
            return static_cast<size_t>(p - begin);
        }
    }
}

}  // namespace quib::platform
