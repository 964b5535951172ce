// The font of the window's controls: the system's message font, at a size at
// which every caption fits the room the fixed layout gives it.
//
// The layout is in twips and was drawn for an 8-point dialog font. A system
// whose message font is larger or wider than that (a modern UI font at 9
// points, or a wide substitute face) would cut captions at their edges and
// the information text at its last line. The order of choice:
//   1. the message font at the system's size;
//   2. the same face, a pixel smaller at a time, down to 8 points;
//   3. the classic dialog font "MS Sans Serif" at 8 points, the one the layout
//      was drawn for, where the system really has that face;
//   4. the message face below 8 points, down to the smallest legible size;
//   5. if nothing fits, the message face at that smallest size.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace quib::app {

// A caption and the room the layout gives its control, in pixels.
struct CaptionRoom {
    enum class Kind {
        Button,  // one line, centred inside the button's border
        Label,   // wrapped to the label's width
    };
    Kind kind = Kind::Label;
    std::u16string text;
    bool accessKeys = true;  // "&" marks an access key and is not drawn
    int width = 0;
    int height = 0;
};

// The smallest font height, in points, that the window is given.
inline constexpr int kLegiblePoints = 7;
// The size the layout was drawn for, in points.
inline constexpr int kDesignPoints = 8;
// The classic dialog face the layout was drawn for.
inline constexpr wchar_t kClassicDialogFace[] = L"MS Sans Serif";

// Where a button draws its caption: inside its border and focus rectangle.
RECT ButtonTextArea(int width, int height);

// True when the caption, drawn with the font selected into dc, stays inside
// its room.
bool CaptionFits(HDC dc, const CaptionRoom& room);

// The font for the controls. messageFont is the system's message font with
// its height already for dpi dots per inch.
LOGFONTW CaptionFont(const LOGFONTW& messageFont, int dpi, const std::vector<CaptionRoom>& rooms);

}  // namespace quib::app
