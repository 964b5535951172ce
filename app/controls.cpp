#include "app/controls.h"

namespace quib::app {

std::u16string ControlText(HWND control) {
    const int length = GetWindowTextLengthW(control);
    if (length <= 0) {
        return std::u16string();
    }
    std::u16string text(static_cast<size_t>(length) + 1, u'\0');
    const int got = GetWindowTextW(control, reinterpret_cast<wchar_t*>(text.data()), length + 1);
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

HWND FocusedChild(HWND parent) {
    HWND h = GetFocus();
    while (h && GetParent(h) != parent) {
        h = GetParent(h);
    }
    return h;
}

}  // namespace quib::app
