#include "app/visible_text.h"

#include <algorithm>

namespace quib::app {

std::u16string VisibleText(std::u16string_view text) {
    std::u16string shown(text);
    std::replace(shown.begin(), shown.end(), u'\0', kVisibleNul);
    return shown;
}

}  // namespace quib::app
