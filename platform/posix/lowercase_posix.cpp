#include <cwctype>

#include "platform/lowercase.h"

namespace quib::platform {

// The POSIX half follows the C library's current locale (LC_CTYPE), the same
// one whose charset stands in for the system code page.
void LowerCaseUserInto(std::u16string_view text, std::u16string& out) {
    out.resize(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t& c = out[i];
        c = text[i];
        if (c < 0x80) {
            if (c >= u'A' && c <= u'Z') {
                c = static_cast<char16_t>(c + (u'a' - u'A'));
            }
            continue;
        }
        if (c >= 0xD800 && c <= 0xDFFF) {
            continue;  // surrogates map to themselves, keeping the length
        }
        const std::wint_t lower = std::towlower(static_cast<std::wint_t>(c));
        if (lower <= 0xFFFF && !(lower >= 0xD800 && lower <= 0xDFFF)) {
            c = static_cast<char16_t>(lower);
        }
    }
}

std::u16string LowerCaseUser(std::u16string_view text) {
    std::u16string out;
    LowerCaseUserInto(text, out);
    return out;
}

}  // namespace quib::platform
