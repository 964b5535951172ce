#include <windows.h>

#include <climits>
#include <stdexcept>

#include "platform/codepage.h"

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

}  // namespace

std::u16string DecodeSystemCodePage(std::string_view bytes) {
    std::u16string out;
    if (bytes.empty()) {
        return out;
    }
    out.resize(bytes.size());  // one byte never yields more than one UTF-16 unit here
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
    return out;
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
