#include "app/layout.h"

#include <commctrl.h>

#include <iterator>

#include "app/control_ids.h"

namespace quib::app {

namespace {

constexpr int kTwipsPerInch = 1440;

// The information text, in the five pieces it is made of.
constexpr std::u16string_view kInfoPieces[] = {
    u"This demo demonstrates the use of Tolvik's VELLQUIB DLL which greatly simplifies ",
    u"programming Plug-Ins for Vell in Visual Basic. VELLQUIB allows for ",
    u"fast and reliable communication with the Vell server. Included in the demo ",
    u"are also some functions to detect lag while communicating and getting ",
    u"a list of all Avatars listed in your text buffer.",
};

constexpr DWORD kChild = WS_CHILD | WS_CLIPSIBLINGS;
constexpr DWORD kShown = kChild | WS_VISIBLE;
constexpr DWORD kFocusable = kShown | WS_TABSTOP | WS_GROUP;
constexpr DWORD kFrame = kShown | BS_GROUPBOX;
constexpr DWORD kButton = kFocusable | BS_PUSHBUTTON;
constexpr DWORD kOneLine = kFocusable | ES_LEFT | ES_AUTOHSCROLL;
constexpr DWORD kLabel = kShown | SS_LEFT;

}  // namespace

const std::array<ControlLayout, 18> kControls = {{
    {IDC_fraInfo, "fraInfo", WC_BUTTONW, kFrame, 0, L"", 0, 120, 60, 6792, 1272},
    {IDC_lblInfo, "lblInfo", WC_STATICW, kLabel | SS_NOPREFIX, 0, L"", IDC_fraInfo, 120, 240, 6552,
     852},
    {IDC_cmdQuibUnregister, "cmdQuibUnregister", WC_BUTTONW, kButton, 0, L"QUIB &Unregister", 0,
     1500, 5220, 1272, 372},
    {IDC_cmdQuibRegister, "cmdQuibRegister", WC_BUTTONW, kButton, 0, L"QUIB &Register", 0, 120,
     5220, 1272, 372},
    {IDC_cmdExit, "cmdExit", WC_BUTTONW, kButton, 0, L"&Exit", 0, 5640, 5220, 1272, 372},
    {IDC_cmdGetText, "cmdGetText", WC_BUTTONW, kButton, 0, L"&Get Vell Text", 0, 4260, 5220, 1272,
     372},
    {IDC_cmdCommunicate, "cmdCommunicate", WC_BUTTONW, kButton | WS_DISABLED, 0, L"&Communicate", 0,
     2880, 5220, 1272, 372},
    // Entries stay in the order they are added; the height is exactly the
    // laid-out one, not rounded to whole entries.
    {IDC_lstAvatars, "lstAvatars", WC_LISTBOXW,
     kFocusable | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL, WS_EX_CLIENTEDGE, L"", 0, 4800,
     2820, 2112, 2160},
    {IDC_txtVellText, "txtVellText", WC_EDITW,
     kFocusable | ES_LEFT | ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_WANTRETURN |
         WS_VSCROLL | WS_HSCROLL,
     WS_EX_CLIENTEDGE, L"", 0, 120, 2820, 4572, 2172},
    {IDC_fra1, "fra1", WC_BUTTONW, kFrame, 0, L"", 0, 120, 1440, 6792, 1212},
    {IDC_txtText, "txtText", WC_EDITW, kOneLine, WS_EX_CLIENTEDGE, L"", IDC_fra1, 1080, 720, 5592,
     300},
    {IDC_cboCommunicationMode, "cboCommunicationMode", WC_COMBOBOXW,
     kFocusable | CBS_DROPDOWNLIST | WS_VSCROLL, 0, L"", IDC_fra1, 5280, 240, 1392, 288},
    {IDC_txtAvatar, "txtAvatar", WC_EDITW, kOneLine, WS_EX_CLIENTEDGE, L"", IDC_fra1, 1080, 240,
     3072, 300},
    {IDC_Mode, "Mode", WC_STATICW, kLabel, 0, L"&Mode", IDC_fra1, 4380, 300, 852, 252},
    {IDC_lblText, "lblText", WC_STATICW, kLabel, 0, L"&Text", IDC_fra1, 120, 720, 852, 252},
    {IDC_lblAvatar, "lblAvatar", WC_STATICW, kLabel, 0, L"&Avatar", IDC_fra1, 120, 300, 852, 252},
    // These two stand where fra1 covers them, and there is no free space of
    // their height between fra1 and the lists: they stay where they are laid
    // out, hidden, instead of being drawn over the frame's fields.
    {IDC_lblAvatars, "lblAvatars", WC_STATICW, kChild | SS_LEFT | SS_NOPREFIX, 0, L"Avatars", 0,
     4860, 1500, 1392, 252},
    {IDC_lblVellText, "lblVellText", WC_STATICW, kChild | SS_LEFT | SS_NOPREFIX, 0,
     L"Vell Textbuffer", 0, 120, 1500, 2052, 252},
}};

const std::array<int, 18> kZOrder = {
    IDC_lblAvatar,
    IDC_txtAvatar,
    IDC_Mode,
    IDC_cboCommunicationMode,
    IDC_lblText,
    IDC_txtText,
    IDC_cmdQuibRegister,
    IDC_cmdQuibUnregister,
    IDC_cmdCommunicate,
    IDC_cmdGetText,
    IDC_cmdExit,
    IDC_lblVellText,
    IDC_txtVellText,
    IDC_lblAvatars,
    IDC_lstAvatars,
    IDC_lblInfo,
    IDC_fraInfo,
    IDC_fra1,
};

const std::array<std::u16string_view, 3> kModes = {u"Speak", u"Think", u"ESP"};

std::u16string InfoText() {
    std::u16string info;
    for (std::u16string_view piece : kInfoPieces) {
        info += piece;
    }
    return info;
}

const ControlLayout* FindControl(int id) {
    for (const ControlLayout& c : kControls) {
        if (c.id == id) {
            return &c;
        }
    }
    return nullptr;
}

int PixelsAt(int twips, int dpi) {
    return MulDiv(twips, dpi, kTwipsPerInch);
}

RECT TwipsRect(const ControlLayout& c) {
    POINT origin = {0, 0};
    if (const ControlLayout* frame = c.container ? FindControl(c.container) : nullptr) {
        origin = {frame->left, frame->top};
    }
    const int left = origin.x + c.left;
    const int top = origin.y + c.top;
    return RECT{left, top, left + c.width, top + c.height};
}

RECT PixelRect(const ControlLayout& c, int dpi) {
    const RECT t = TwipsRect(c);
    return RECT{PixelsAt(t.left, dpi), PixelsAt(t.top, dpi), PixelsAt(t.right, dpi),
                PixelsAt(t.bottom, dpi)};
}

void PlaceControl(HWND control, const ControlLayout& c, int dpi) {
    const RECT r = PixelRect(c, dpi);
    int height = r.bottom - r.top;
    if (c.id == IDC_cboCommunicationMode) {
        // The window's height is the open list's: room for every mode. The
        // closed field keeps the height its font gives it: the control does
        // not take a lower one, whatever the laid-out height.
        const int item = static_cast<int>(SendMessageW(control, CB_GETITEMHEIGHT, 0, 0));
        height += 2 + item * static_cast<int>(std::size(kModes));
    }
    SetWindowPos(control, nullptr, r.left, r.top, r.right - r.left, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

std::vector<CaptionRoom> CaptionRooms(int dpi) {
    std::vector<CaptionRoom> rooms;
    for (const ControlLayout& c : kControls) {
        const bool button = c.windowClass == std::wstring_view(WC_BUTTONW) &&
                            (c.style & BS_TYPEMASK) == BS_PUSHBUTTON;
        const bool label = c.windowClass == std::wstring_view(WC_STATICW);
        if (!(c.style & WS_VISIBLE) || !(button || label)) {
            continue;
        }
        CaptionRoom room;
        room.kind = button ? CaptionRoom::Kind::Button : CaptionRoom::Kind::Label;
        room.accessKeys = !(c.style & SS_NOPREFIX) || button;
        // Converted edge by edge, as the controls are placed.
        const RECT r = PixelRect(c, dpi);
        room.width = r.right - r.left;
        room.height = r.bottom - r.top;
        room.text = c.id == IDC_lblInfo ? InfoText() : reinterpret_cast<const char16_t*>(c.caption);
        rooms.push_back(std::move(room));
    }
    return rooms;
}

}  // namespace quib::app
