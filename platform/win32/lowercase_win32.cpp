#include <windows.h>

#include "platform/lowercase.h"

namespace quib::platform {

void LowerCaseUserInto(std::u16string_view text, std::u16string& out) {
    out.resize(text.size());
    if (text.empty()) {
        return;
    }
    // Plain ASCII needs no locale (and is the common case for avatar names).
    bool ascii = true;
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (c >= u'A' && c <= u'Z') {
            c = static_cast<char16_t>(c + (u'a' - u'A'));
        } else if (c >= 0x80) {
            ascii = false;
        }
        out[i] = c;
    }
    if (ascii) {
        return;
    }
    // LCMAP_LOWERCASE maps code unit for code unit, so the length is unchanged.
    const int n = LCMapStringEx(LOCALE_NAME_USER_DEFAULT, LCMAP_LOWERCASE,
                                reinterpret_cast<LPCWSTR>(text.data()),
                                static_cast<int>(text.size()), reinterpret_cast<LPWSTR>(out.data()),
                                static_cast<int>(out.size()), nullptr, nullptr, 0);
    if (n != static_cast<int>(text.size())) {
        out.assign(text);  // keep the text as it is rather than lose it
    }
}

std::u16string LowerCaseUser(std::u16string_view text) {
    std::u16string out;
    LowerCaseUserInto(text, out);
    return out;
}

}  // namespace quib::platform
