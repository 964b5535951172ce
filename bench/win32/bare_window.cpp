// The yardsticks for QuibDemo's start-up time and working set, built with the
// same compiler, options and manifest; each shows a window of QuibDemo's size
// and closes on WM_CLOSE.
//   bare_window.exe:   the smallest Win32 program with a window, no control.
//   bare_controls.exe: built with QUIB_BARE_CONTROLS, the same window with
//                      the eighteen standard controls that QuibDemo's window
//                      has (classes, styles, places at 96 dpi), version 6 of
//                      the common controls and the face QuibDemo shows
//                      under Wine with its fonts;
//                      none of QuibDemo's own work (no host library, no font
//                      choice, no texts to fill).
#include <windows.h>
#ifdef QUIB_BARE_CONTROLS
#include <commctrl.h>
#endif

namespace {

#ifdef QUIB_BARE_CONTROLS
constexpr wchar_t kClass[] = L"QuibBench.BareControls";

constexpr DWORD kChild = WS_CHILD | WS_CLIPSIBLINGS;
constexpr DWORD kShown = kChild | WS_VISIBLE;
constexpr DWORD kTab = kShown | WS_TABSTOP | WS_GROUP;
constexpr DWORD kEdit = kTab | ES_LEFT | ES_AUTOHSCROLL;

struct Control {
    const wchar_t* windowClass;
    DWORD style;
    DWORD exStyle;
    const wchar_t* caption;
    int x, y, width, height;  // pixels at 96 dpi
};

// QuibDemo's window, control by control in the order it creates them.
const Control kControls[] = {
    {WC_BUTTONW, kShown | BS_GROUPBOX, 0, L"", 8, 4, 453, 85},
    {WC_STATICW, kShown | SS_LEFT | SS_NOPREFIX, 0,
     L"A label as long as the window's information text, which wraps over four or five lines "
     L"of the frame that holds it in the window's font. It says what the "
     L"program shows, what the host library does for a plug-in and what else the demo has in "
     L"store, so that the label has as much to lay out as the program's own.",
     16, 20, 437, 57},
    {WC_BUTTONW, kTab | BS_PUSHBUTTON, 0, L"QUIB &Unregister", 100, 348, 85, 25},
    {WC_BUTTONW, kTab | BS_PUSHBUTTON, 0, L"QUIB &Register", 8, 348, 85, 25},
    {WC_BUTTONW, kTab | BS_PUSHBUTTON, 0, L"&Exit", 376, 348, 85, 25},
    {WC_BUTTONW, kTab | BS_PUSHBUTTON, 0, L"&Get Vell Text", 284, 348, 85, 25},
    {WC_BUTTONW, kTab | BS_PUSHBUTTON | WS_DISABLED, 0, L"&Communicate", 192, 348, 85, 25},
    {WC_LISTBOXW, kTab | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL, WS_EX_CLIENTEDGE, L"", 320,
     188, 141, 144},
    {WC_EDITW,
     kTab | ES_LEFT | ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_WANTRETURN | WS_VSCROLL |
         WS_HSCROLL,
     WS_EX_CLIENTEDGE, L"", 8, 188, 305, 145},
    {WC_BUTTONW, kShown | BS_GROUPBOX, 0, L"", 8, 96, 453, 81},
    {WC_EDITW, kEdit, WS_EX_CLIENTEDGE, L"", 80, 144, 373, 20},
    {WC_COMBOBOXW, kTab | CBS_DROPDOWNLIST | WS_VSCROLL, 0, L"", 360, 112, 93, 80},
    {WC_EDITW, kEdit, WS_EX_CLIENTEDGE, L"", 80, 112, 205, 20},
    {WC_STATICW, kShown | SS_LEFT, 0, L"&Mode", 300, 116, 57, 17},
    {WC_STATICW, kShown | SS_LEFT, 0, L"&Text", 16, 144, 57, 17},
    {WC_STATICW, kShown | SS_LEFT, 0, L"&Avatar", 16, 116, 57, 17},
    {WC_STATICW, kChild | SS_LEFT | SS_NOPREFIX, 0, L"Avatars", 324, 100, 93, 17},
    {WC_STATICW, kChild | SS_LEFT | SS_NOPREFIX, 0, L"Vell Textbuffer", 8, 100, 137, 17},
};
static_assert(sizeof kControls / sizeof kControls[0] == 18);

// The controls, in MS Sans Serif at 8 points: where QuibDemo's captions do
// not fit in Wine's message font, app/message_font.cpp takes that face, and
// a TrueType face costs far more to draw at start-up than that bitmap font.
// False when a control cannot be made.
bool CreateControls(HWND window, HINSTANCE instance) {
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    LOGFONTW face = metrics.lfMessageFont;
    face.lfHeight = -MulDiv(8, 96, 72);
    lstrcpynW(face.lfFaceName, L"MS Sans Serif", LF_FACESIZE);
    // Lives as long as the program, like QuibDemo's window font.
    const HFONT font = CreateFontIndirectW(&face);
    for (const Control& c : kControls) {
        HWND control = CreateWindowExW(c.exStyle, c.windowClass, c.caption, c.style, c.x, c.y,
                                       c.width, c.height, window, nullptr, instance, nullptr);
        if (!control) {
            return false;
        }
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
    return true;
}
#else
constexpr wchar_t kClass[] = L"QuibBench.BareWindow";
#endif

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
#ifdef QUIB_BARE_CONTROLS
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
#endif
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClass;
    RegisterClassExW(&wc);
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT r = {0, 0, 469, 380};
    AdjustWindowRectEx(&r, style, FALSE, 0);
    HWND w =
        CreateWindowExW(0, kClass, L"Bare window", style, CW_USEDEFAULT, CW_USEDEFAULT,
                        r.right - r.left, r.bottom - r.top, nullptr, nullptr, instance, nullptr);
    if (!w) {
        return 1;
    }
#ifdef QUIB_BARE_CONTROLS
    if (!CreateControls(w, instance)) {
        return 1;
    }
#endif
    ShowWindow(w, showCommand);
    UpdateWindow(w);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}
