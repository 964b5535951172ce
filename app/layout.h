// The window's layout as its designer drew it: the size of the client area,
// every control with its class, styles, caption and place in twips, the order
// of the controls from top to bottom, the information text and the modes.
// The window is built from it, and its tests and the start-up yardstick read
// it from here.
#pragma once

#include <windows.h>

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "app/message_font.h"

namespace quib::app {

// The window's client area, in twips.
inline constexpr int kClientWidth = 7032;
inline constexpr int kClientHeight = 5700;

// A fixed border, a caption with the system menu and a minimize box.
inline constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
inline constexpr DWORD kWindowExStyle = 0;

// One control as the window's designer laid it out. Positions are twips from
// the top-left corner of the container: the frame whose id is given, or the
// window's client area for 0.
struct ControlLayout {
    int id;
    const char* name;  // the designer's name, which frmDemo's member has too
    const wchar_t* windowClass;
    DWORD style;
    DWORD exStyle;
    const wchar_t* caption;
    int container;
    int left, top, width, height;
};

// The eighteen controls, in the order the window creates them.
extern const std::array<ControlLayout, 18> kControls;

// The ids of the controls from top to bottom. Tab and Shift+Tab walk the
// focusable ones in this order; each label stands directly before the field
// it names, so that its access key lands there; the frames are last, behind
// everything they surround.
extern const std::array<int, 18> kZOrder;

// The entries of cboCommunicationMode, in the list's order.
extern const std::array<std::u16string_view, 3> kModes;

// The text of lblInfo.
std::u16string InfoText();

// The control of an id; nullptr for one the window does not have.
const ControlLayout* FindControl(int id);

// Twips to pixels at a DPI, rounded to the nearest pixel.
int PixelsAt(int twips, int dpi);

// Where a control stands in twips of the window's client area.
RECT TwipsRect(const ControlLayout& c);

// Where a control stands at a DPI, in pixels of the window's client area.
// Both edges are converted, so that edges that line up in twips line up in
// pixels at every DPI.
RECT PixelRect(const ControlLayout& c, int dpi);

// Puts a control, which has its font already, where the layout has it at a
// DPI. The mode list's window is as high as its open list, with room for
// every mode.
void PlaceControl(HWND control, const ControlLayout& c, int dpi);

// The captions the window shows and the room each has, in pixels at a DPI.
std::vector<CaptionRoom> CaptionRooms(int dpi);

}  // namespace quib::app
