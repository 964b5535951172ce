#include <windows.h>

#include <climits>
#include <stdexcept>

#include "platform/codepage.h"
#include "platform/find.h"

namespace quib::platform {

namespace {

// MultiByteToWideChar and WideCharToMultiByte count in int; longer texts go in
// slices. A slice boundary never splits a double-byte character: the slice is
// shortened to end after a lead byte's trail byte.
constexpr size_t kSlice = 1u << 26;

size_t DecodeSliceEnd(std::string_view bytes, size_t begin) {
    size_t end = begin + kSlice;
    if (end >= bytes.size()) {
        return bytes.size();
    }
    // Step back to a position that is not a trail byte of a DBCS pair.
    size_t i = begin;
    while (i < end) {
        i += IsDBCSLeadByte(static_cast<BYTE>(bytes[i])) ? 2 : 1;
    }
    return i > bytes.size() ? bytes.size() : i;
}

// A single-byte code page maps every byte to one UTF-16 unit on its own, so
// its 256 mappings are asked for once and a text is decoded by table, without
// a pass through the system for each text. Double-byte and UTF-8 code pages,
// whose bytes depend on their neighbours, always go through the system.
struct ByteTable {
    bool usable = false;
    bool asciiIdentity = false;  // bytes 0-127 map to U+0000-U+007F
    char16_t map[256] = {};
};

const ByteTable& SystemByteTable() {
    static const ByteTable table = [] {
        ByteTable t;
        CPINFO info;
        if (!GetCPInfo(CP_ACP, &info) || info.MaxCharSize != 1) {
            return t;
        }
        t.usable = true;
        t.asciiIdentity = true;
        for (int b = 0; b < 256; ++b) {
            const char byte = static_cast<char>(b);
            wchar_t unit = 0;
            if (MultiByteToWideChar(CP_ACP, 0, &byte, 1, &unit, 1) != 1) {
                t.usable = false;
                return t;
            }
            t.map[b] = static_cast<char16_t>(unit);
            t.asciiIdentity = t.asciiIdentity && (b >= 0x80 || unit == static_cast<wchar_t>(b));
        }
        return t;
    }();
    return table;
}

void DecodeByTable(const ByteTable& table, std::string_view bytes, char16_t* out) {
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    size_t i = 0;
#if defined(QUIB_SSE2)
    // Chat text is mostly ASCII: sixteen bytes at a time widened to sixteen
    // characters while none of them has its high bit set.
    if (table.asciiIdentity) {
        const __m128i zero = _mm_setzero_si128();
        while (n - i >= 16) {
            const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
            if (_mm_movemask_epi8(block) == 0) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                                 _mm_unpacklo_epi8(block, zero));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8),
                                 _mm_unpackhi_epi8(block, zero));
                i += 16;
            } else {
                for (const size_t stop = i + 16; i < stop; ++i) {
                    out[i] = table.map[in[i]];
                }
            }
        }
    }
#endif
    for (; i < n; ++i) {
        out[i] = table.map[in[i]];
    }
}

}  // namespace

std::u16string DecodeSystemCodePage(std::string_view bytes) {
    std::u16string out;
    DecodeSystemCodePage(bytes, out);
    return out;
}

void DecodeSystemCodePage(std::string_view bytes, std::u16string& out) {
    out.clear();
    if (bytes.empty()) {
        return;
    }
    out.resize(bytes.size());  // one byte never yields more than one UTF-16 unit here
    if (const ByteTable& table = SystemByteTable(); table.usable) {
        DecodeByTable(table, bytes, out.data());
        return;
    }
    size_t written = 0;
    size_t begin = 0;
    while (begin < bytes.size()) {
        const size_t end = DecodeSliceEnd(bytes, begin);
        const int n =
            MultiByteToWideChar(CP_ACP, 0, bytes.data() + begin, static_cast<int>(end - begin),
                                reinterpret_cast<wchar_t*>(out.data() + written),
                                static_cast<int>(out.size() - written));
        if (n <= 0) {
            // Cannot happen with a buffer this large; keep the bytes visible anyway.
            for (size_t i = begin; i < end; ++i) {
                out[written++] = static_cast<unsigned char>(bytes[i]) < 0x80
                                     ? static_cast<char16_t>(bytes[i])
                                     : u'\uFFFD';
            }
        } else {
            written += static_cast<size_t>(n);
        }
        begin = end;
    }
    out.resize(written);
}

std::string EncodeSystemCodePage(std::u16string_view text) {
    std::string out;
    size_t begin = 0;
    while (begin < text.size()) {
        size_t end = begin + kSlice < text.size() ? begin + kSlice : text.size();
        // Keep a surrogate pair together.
        if (end < text.size() && text[end - 1] >= 0xD800 && text[end - 1] <= 0xDBFF) {
            --end;
        }
        const auto* src = reinterpret_cast<const wchar_t*>(text.data() + begin);
        const int len = static_cast<int>(end - begin);
        const int need = WideCharToMultiByte(CP_ACP, 0, src, len, nullptr, 0, nullptr, nullptr);
        if (need > 0) {
            const size_t at = out.size();
            out.resize(at + static_cast<size_t>(need));
            WideCharToMultiByte(CP_ACP, 0, src, len, out.data() + at, need, nullptr, nullptr);
        }
        begin = end;
    }
    return out;
}

}  // namespace quib::platform
