// Text the program makes up itself for its messages: numbers, and ASCII names
// and messages that come from elsewhere (an export's name, what() of a
// standard exception).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quib {

// ASCII text as 16-bit text, one character a byte. A byte outside ASCII
// becomes '?': such text is never in the system code page for sure.
inline std::u16string FromAscii(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        out.push_back(byte < 0x80 ? static_cast<char16_t>(byte) : u'?');
    }
    return out;
}

// A number as decimal text.
inline std::u16string Decimal(int64_t value) {
    return FromAscii(std::to_string(value));
}

}  // namespace quib
