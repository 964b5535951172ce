// Reading the window's controls: shared by the window and by the tests that
// drive it, so that both read them the same way.
#pragma once

#include <windows.h>

#include <string>

namespace quib::app {

// The whole text of a control.
std::u16string ControlText(HWND control);

// The child of `parent` that has the focus: the focused window itself, or the
// control that holds it (a combo box, not its parts); nullptr when the focus
// is elsewhere.
HWND FocusedChild(HWND parent);

}  // namespace quib::app
