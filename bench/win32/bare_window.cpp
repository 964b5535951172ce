// The yardsticks for QuibDemo's start-up time and working set, built with the
// same compiler, options and manifest; each shows a window of QuibDemo's size
// and closes on WM_CLOSE.
//   bare_window.exe:   the smallest Win32 program with a window, no control.
//   bare_controls.exe: built with QUIB_BARE_CONTROLS, the same window with
//                      the eighteen standard controls that QuibDemo's window
//                      has (classes, styles, captions and places at 96 dpi,
//                      read from QuibDemo's own layout), version 6 of the
//                      common controls and the face QuibDemo shows under
//                      Wine with its fonts; none of QuibDemo's own work (no
//                      host library, no font choice, no lists to fill).
#include <windows.h>

#include "app/layout.h"
#ifdef QUIB_BARE_CONTROLS
#include <commctrl.h>

#include <string>

#include "app/control_ids.h"
#include "platform/win32/handles.h"
#endif

namespace {

#ifdef QUIB_BARE_CONTROLS
constexpr wchar_t kClass[] = L"QuibBench.BareControls";

constexpr int kDpi = 96;

// The controls, in MS Sans Serif at 8 points: where QuibDemo's captions do
// not fit in Wine's message font, app/message_font.cpp takes that face, and
// a TrueType face costs far more to draw at start-up than that bitmap font.
// False when a control cannot be made.
bool CreateControls(HWND window, HINSTANCE instance, quib::platform::UniqueGdiObject<HFONT>& font) {
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    LOGFONTW face = metrics.lfMessageFont;
    face.lfHeight = -MulDiv(8, kDpi, 72);
    lstrcpynW(face.lfFaceName, L"MS Sans Serif", LF_FACESIZE);
    font.Reset(CreateFontIndirectW(&face));
    // The information text is there from the start: the label lays out as
    // much text as QuibDemo's.
    const std::u16string info = quib::app::InfoText();
    for (const quib::app::ControlLayout& c : quib::app::kControls) {
        const wchar_t* caption =
            c.id == IDC_lblInfo ? reinterpret_cast<const wchar_t*>(info.c_str()) : c.caption;
        const RECT r = quib::app::PixelRect(c, kDpi);
        HWND control =
            CreateWindowExW(c.exStyle, c.windowClass, caption, c.style, r.left, r.top,
                            r.right - r.left, r.bottom - r.top, window,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), instance, nullptr);
        if (!control) {
            return false;
        }
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), FALSE);
        quib::app::PlaceControl(control, c, kDpi);
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
    // QuibDemo's frame and client size at 96 dpi.
    const DWORD style = quib::app::kWindowStyle;
    RECT r = {0, 0, quib::app::PixelsAt(quib::app::kClientWidth, 96),
              quib::app::PixelsAt(quib::app::kClientHeight, 96)};
    AdjustWindowRectEx(&r, style, FALSE, quib::app::kWindowExStyle);
    HWND w = CreateWindowExW(quib::app::kWindowExStyle, kClass, L"Bare window", style,
                             CW_USEDEFAULT, CW_USEDEFAULT, r.right - r.left, r.bottom - r.top,
                             nullptr, nullptr, instance, nullptr);
    if (!w) {
        return 1;
    }
#ifdef QUIB_BARE_CONTROLS
    // Lives as long as the window, like QuibDemo's window font.
    quib::platform::UniqueGdiObject<HFONT> font;
    if (!CreateControls(w, instance, font)) {
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
