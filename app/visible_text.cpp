#include "app/visible_text.h"

#include "platform/find.h"

namespace quib::app {

bool HasNul(std::u16string_view text) {
    const char16_t* const end = text.data() + text.size();
    return platform::FindChar(text.data(), end, u'\0') != end;
}

std::u16string VisibleText(std::u16string_view text) {
    std::u16string shown(text);
    const char16_t* const begin = shown.data();
    const char16_t* const end = begin + shown.size();
    for (const char16_t* p = platform::FindChar(begin, end, u'\0'); p != end;
         p = platform::FindChar(p + 1, end, u'\0')) {
        shown[static_cast<size_t>(p - begin)] = kVisibleNul;
    }
    return shown;
}

}  // namespace quib::app
