// Conversion between the program's 16-bit text and 8-bit text in the system
// code page, the encoding of every string that crosses the host library.
#pragma once

#include <string>
#include <string_view>

namespace quib::platform {

// Decodes counted 8-bit text. Embedded NUL bytes are kept as NUL characters;
// bytes that do not decode become U+FFFD. Never drops text; fails only when
// memory runs out.
std::u16string DecodeSystemCodePage(std::string_view bytes);

// The same into `out`, whose text it replaces and whose storage it reuses: a
// large text decoded again and again is not allocated afresh each time. When
// memory runs out, `out` is left empty.
void DecodeSystemCodePage(std::string_view bytes, std::u16string& out);

// Encodes to 8-bit text. Characters the code page cannot represent become the
// code page's default character ('?'). The result has no terminating NUL of
// its own beyond std::string's; embedded NUL characters are kept.
std::string EncodeSystemCodePage(std::u16string_view text);

}  // namespace quib::platform
