// frmDemo in-process under Wine: layout, start-up, shutdown and the error
// convention, driven through real window messages.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "app/control_ids.h"
#include "app/layout.h"
#include "platform/win32/handles.h"
#include "tests/app/window_harness.h"

namespace quib::test {
namespace {

// --- Layout --------------------------------------------------------------------

std::wstring ClassOf(HWND h) {
    wchar_t name[64] = {};
    GetClassNameW(h, name, 64);
    return name;
}

RECT ClientRectOf(HWND control, HWND parent) {
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// Every caption shown whole and the font at least 7 points high, as it is
// really drawn: measured with the font each control has, in the area it draws
// in.
void ExpectCaptionsWhole(HWND w, int dpi) {
    const int captioned[] = {
        IDC_cmdQuibRegister, IDC_cmdQuibUnregister, IDC_cmdCommunicate, IDC_cmdGetText,
        IDC_cmdExit,         IDC_lblAvatar,         IDC_Mode,           IDC_lblText,
        IDC_lblInfo};
    const HFONT font =
        reinterpret_cast<HFONT>(SendMessageW(GetDlgItem(w, IDC_lblInfo), WM_GETFONT, 0, 0));
    LOGFONTW chosen = {};
    GetObjectW(font, sizeof(chosen), &chosen);
    const quib::platform::UniqueWindowDC dc = quib::platform::ClientDC(w);
    const HGDIOBJ old = SelectObject(dc.Get(), font);
    TEXTMETRICW tm = {};
    GetTextMetricsW(dc.Get(), &tm);
    SelectObject(dc.Get(), old);
    EXPECT_GE(tm.tmHeight - tm.tmInternalLeading, MulDiv(7, dpi, 72))
        << chosen.lfFaceName << " " << chosen.lfHeight;
    for (const int id : captioned) {
        const HWND c = GetDlgItem(w, id);
        const WindowHarness::CaptionExtent e = WindowHarness::MeasureCaption(c);
        EXPECT_TRUE(e.Fits()) << "control " << id << " with " << chosen.lfFaceName << " "
                              << chosen.lfHeight << ": needs " << e.needed.cx << "x" << e.needed.cy
                              << ", has " << e.area.cx << "x" << e.area.cy;
    }
}

// Tells a window that its DPI changed from `from` to `to`, with the rectangle
// that Windows suggests by default (the window moved, and scaled by the
// change), and checks that nothing the user typed, chose, selected or fetched
// changed, nor the focus, and that the window stands at the suggestion's
// place with a new font, the old one freed.
void ChangeDpi(WindowHarness& h, int from, int to) {
    frmDemo& f = h.Form();
    const HWND w = h.Window();
    WindowHarness::SetText(f.txtText, u"hello there");
    SendMessageW(f.cboCommunicationMode, CB_SETCURSEL, 2, 0);  // ESP, no avatar: still disabled
    WindowHarness::SetText(f.txtVellText, u"Tobin: hi\r\nEdda: yo");
    for (const wchar_t* name : {L"Tobin", L"Edda"}) {
        SendMessageW(f.lstAvatars, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
    }
    SendMessageW(f.lstAvatars, LB_SETCURSEL, 1, 0);
    SetFocus(f.txtText);
    SendMessageW(f.txtText, EM_SETSEL, 2, 7);
    h.Pump();
    const std::vector<std::string> calls = FakeHost::Get().calls;
    const HFONT oldFont = reinterpret_cast<HFONT>(SendMessageW(f.txtText, WM_GETFONT, 0, 0));

    RECT was;
    GetWindowRect(w, &was);
    const RECT suggested = {was.left + 40, was.top + 30,
                            was.left + 40 + MulDiv(was.right - was.left, to, from),
                            was.top + 30 + MulDiv(was.bottom - was.top, to, from)};
    EXPECT_TRUE(h.SaveShot(L"dpi-" + std::to_wstring(from) + L".bmp"));
    SendMessageW(w, WM_DPICHANGED, MAKEWPARAM(to, to), reinterpret_cast<LPARAM>(&suggested));
    h.Pump();
    EXPECT_TRUE(
        h.SaveShot(L"dpi-" + std::to_wstring(from) + L"-to-" + std::to_wstring(to) + L".bmp"));

    RECT now;
    GetWindowRect(w, &now);
    EXPECT_EQ(now.left, suggested.left);
    EXPECT_EQ(now.top, suggested.top);
    EXPECT_EQ(WindowHarness::Text(f.txtText), u"hello there");
    EXPECT_EQ(WindowHarness::Text(f.txtAvatar), u"");
    EXPECT_EQ(WindowHarness::Text(f.txtVellText), u"Tobin: hi\r\nEdda: yo");
    EXPECT_EQ(SendMessageW(f.cboCommunicationMode, CB_GETCURSEL, 0, 0), 2);
    EXPECT_EQ(SendMessageW(f.lstAvatars, LB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(SendMessageW(f.lstAvatars, LB_GETCURSEL, 0, 0), 1);
    DWORD start = 0;
    DWORD end = 0;
    SendMessageW(f.txtText, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                 reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, 2u);
    EXPECT_EQ(end, 7u);
    EXPECT_EQ(h.Focus(), f.txtText);
    EXPECT_EQ(FakeHost::Get().calls, calls);

    const HFONT font = reinterpret_cast<HFONT>(SendMessageW(f.txtText, WM_GETFONT, 0, 0));
    EXPECT_NE(font, oldFont);
    EXPECT_EQ(GetObjectType(oldFont), 0u) << "the old font was not freed";
    for (const app::ControlLayout& e : app::kControls) {
        EXPECT_EQ(SendMessageW(GetDlgItem(w, e.id), WM_GETFONT, 0, 0),
                  reinterpret_cast<LRESULT>(font))
            << e.name;
    }
}

// The layout at a DPI: of a window started there, or with a startDpi, of one
// started at that DPI and then told of the new one.
void CheckLayoutAt(int dpi, int startDpi = 0) {
    WindowHarness h;
    frmDemoOptions options = h.Options();
    options.dpi = startDpi ? startDpi : dpi;
    ASSERT_TRUE(h.Start(std::move(options)));
    const HWND w = h.Window();
    if (startDpi) {
        ChangeDpi(h, startDpi, dpi);
        ExpectCaptionsWhole(w, dpi);
    }
    const auto px = [dpi](int twips) { return MulDiv(twips, dpi, 1440); };
    // One pixel, in twips: the most a position can move by rounding.
    const int slack = (1440 + dpi - 1) / dpi;

    RECT client;
    GetClientRect(w, &client);
    EXPECT_EQ(client.right, px(app::kClientWidth));
    EXPECT_EQ(client.bottom, px(app::kClientHeight));

    for (const app::ControlLayout& e : app::kControls) {
        SCOPED_TRACE(e.name);
        const HWND c = GetDlgItem(w, e.id);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(ClassOf(c), e.windowClass);
        // The texts typed before a change stay; the lists show no caption.
        const bool list = e.id == IDC_lstAvatars || e.id == IDC_cboCommunicationMode;
        if (!startDpi && !list) {
            EXPECT_EQ(WindowHarness::Text(c),
                      e.id == IDC_lblInfo
                          ? app::InfoText()
                          : std::u16string(reinterpret_cast<const char16_t*>(e.caption)));
        }
        EXPECT_EQ(IsWindowVisible(c) != FALSE, (e.style & WS_VISIBLE) != 0);
        EXPECT_EQ(IsWindowEnabled(c) != FALSE, (e.style & WS_DISABLED) == 0);

        const RECT t = app::TwipsRect(e);
        const RECT r = ClientRectOf(c, w);
        EXPECT_EQ(r.left, px(t.left));
        EXPECT_EQ(r.top, px(t.top));
        EXPECT_EQ(r.right, px(t.right));
        if (e.id == IDC_cboCommunicationMode) {
            // A drop-down list's closed height is its font's, as in every
            // program: at least the laid-out one, rounded by the font.
            EXPECT_NEAR(r.bottom - r.top, px(e.height), px(60));
        } else {
            EXPECT_EQ(r.bottom, px(t.bottom));
        }
        // Back in twips, within what a pixel's rounding allows.
        EXPECT_NEAR(MulDiv(r.left, 1440, dpi), t.left, slack);
        EXPECT_NEAR(MulDiv(r.right - r.left, 1440, dpi), e.width, 2 * slack);
        if (e.id != IDC_cboCommunicationMode) {
            EXPECT_NEAR(MulDiv(r.bottom - r.top, 1440, dpi), e.height, 2 * slack);
        }

        // The children of a frame lie inside it.
        if (e.container != 0) {
            const RECT f = ClientRectOf(GetDlgItem(w, e.container), w);
            EXPECT_TRUE(r.left >= f.left && r.top >= f.top && r.right <= f.right &&
                        r.bottom <= f.bottom);
        }
    }
}

TEST(WindowLayout, ControlsAtTheirPlacesAt96Dpi) {
    CheckLayoutAt(96);
}

TEST(WindowLayout, ControlsAtTheirPlacesAt144Dpi) {
    CheckLayoutAt(144);
}

// Moved to a monitor of another DPI, the window takes the layout, the font
// and the client size of that DPI.
TEST(WindowLayout, ControlsAtTheirPlacesAndCaptionsWholeAfterTheDpiChanges) {
    for (const auto& [from, to] : {std::pair{96, 144}, std::pair{144, 96}}) {
        SCOPED_TRACE(testing::Message() << from << " to " << to << " dpi");
        CheckLayoutAt(to, from);
    }
}

TEST(WindowLayout, KindsFrameCaptionFontAndIcon) {
    WindowHarness h;
    ASSERT_TRUE(h.Start());
    const HWND w = h.Window();

    wchar_t caption[64] = {};
    GetWindowTextW(w, caption, 64);
    EXPECT_STREQ(caption, QUIBDEMO_CAPTION);
    const LONG style = GetWindowLongW(w, GWL_STYLE);
    EXPECT_FALSE(style & WS_THICKFRAME) << "fixed border";
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_NE(GetClassLongPtrW(w, GCLP_HICON), 0);
    EXPECT_NE(GetClassLongPtrW(w, GCLP_HICONSM), 0);

    const auto styleOf = [&](int id) { return GetWindowLongW(GetDlgItem(w, id), GWL_STYLE); };
    EXPECT_EQ(styleOf(IDC_fraInfo) & BS_TYPEMASK, BS_GROUPBOX);
    EXPECT_EQ(styleOf(IDC_fra1) & BS_TYPEMASK, BS_GROUPBOX);
    EXPECT_EQ(styleOf(IDC_cboCommunicationMode) & 3, CBS_DROPDOWNLIST);
    EXPECT_FALSE(styleOf(IDC_cboCommunicationMode) & CBS_SORT);
    EXPECT_FALSE(styleOf(IDC_lstAvatars) & LBS_SORT);
    EXPECT_TRUE(styleOf(IDC_txtVellText) & ES_MULTILINE);
    EXPECT_TRUE(styleOf(IDC_txtVellText) & WS_HSCROLL);
    EXPECT_TRUE(styleOf(IDC_txtVellText) & WS_VSCROLL);
    EXPECT_FALSE(styleOf(IDC_txtText) & ES_MULTILINE);
    EXPECT_FALSE(styleOf(IDC_txtAvatar) & ES_MULTILINE);

    // One font for all: the system's message face, at most at its size, or
    // the classic dialog font where the layout cannot hold the captions in
    // that face (EveryCaptionShownWholeWithAnyFaceAndDpi).
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof(metrics);
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0));
    const HFONT font =
        reinterpret_cast<HFONT>(SendMessageW(GetDlgItem(w, IDC_txtAvatar), WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr);
    LOGFONTW lf = {};
    GetObjectW(font, sizeof(lf), &lf);
    EXPECT_TRUE(lstrcmpiW(lf.lfFaceName, metrics.lfMessageFont.lfFaceName) == 0 ||
                lstrcmpiW(lf.lfFaceName, L"MS Sans Serif") == 0)
        << lf.lfFaceName;
    EXPECT_LE(std::abs(lf.lfHeight), std::abs(metrics.lfMessageFont.lfHeight));
    for (const app::ControlLayout& e : app::kControls) {
        EXPECT_EQ(SendMessageW(GetDlgItem(w, e.id), WM_GETFONT, 0, 0),
                  reinterpret_cast<LRESULT>(font))
            << e.name;
    }
}

// Every caption is shown whole, whatever message font the system gives and at
// every DPI: measured with the font each control has, in the area it draws in.
// The faces: Wine's default; DejaVu Sans, a deliberately wide one and what
// Wine falls back to without its own fonts; Tahoma, with the metrics of the
// message font of older Windows; Liberation Sans (Arial's metrics) at 9
// points, the size of the message font of current Windows.
TEST(WindowLayout, EveryCaptionShownWholeWithAnyFaceAndDpi) {
    struct Face {
        const wchar_t* name;  // nullptr: the system's message font as it is
        int pixelsAt96;
    };
    const Face faces[] = {
        {nullptr, 0}, {L"DejaVu Sans", 11}, {L"Tahoma", 11}, {L"Liberation Sans", 12}};
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof(metrics);
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0));
    const int systemDpi = GetDeviceCaps(quib::platform::ClientDC(nullptr).Get(), LOGPIXELSY);

    for (const Face& face : faces) {
        LOGFONTW lf = metrics.lfMessageFont;
        if (face.name) {
            lstrcpynW(lf.lfFaceName, face.name, LF_FACESIZE);
            lf.lfHeight = -MulDiv(face.pixelsAt96, systemDpi, 96);
        }
        for (const int dpi : {96, 120, 144, 192}) {
            SCOPED_TRACE(testing::Message() << (face.name ? face.name : L"system's message font")
                                            << " at " << dpi << " dpi");
            WindowHarness h;
            frmDemoOptions options = h.Options();
            options.dpi = dpi;
            options.messageFont = lf;
            ASSERT_TRUE(h.Start(std::move(options)));
            ExpectCaptionsWhole(h.Window(), dpi);
        }
    }
}

// --- Start state ----------------------------------------------------------------

TEST(WindowStart, StartState) {
    WindowHarness h;
    ASSERT_TRUE(h.Start());
    frmDemo& f = h.Form();

    EXPECT_EQ(WindowHarness::Text(f.lblInfo),
              u"This demo demonstrates the use of Tolvik's VELLQUIB DLL which greatly "
              u"simplifies programming Plug-Ins for Vell in Visual Basic. VELLQUIB allows for "
              u"fast and reliable communication with the Vell server. Included in the demo are "
              u"also some functions to detect lag while communicating and getting a list of all "
              u"Avatars listed in your text buffer.");

    ASSERT_EQ(SendMessageW(f.cboCommunicationMode, CB_GETCOUNT, 0, 0), 3);
    const char16_t* modes[] = {u"Speak", u"Think", u"ESP"};
    for (int i = 0; i < 3; ++i) {
        char16_t entry[16] = {};
        SendMessageW(f.cboCommunicationMode, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(entry));
        EXPECT_EQ(std::u16string(entry), modes[i]);
    }
    EXPECT_EQ(SendMessageW(f.cboCommunicationMode, CB_GETCURSEL, 0, 0), -1);
    EXPECT_FALSE(IsWindowEnabled(f.cmdCommunicate));
    EXPECT_EQ(WindowHarness::Text(f.txtAvatar), u"");
    EXPECT_EQ(WindowHarness::Text(f.txtText), u"");
    EXPECT_EQ(WindowHarness::Text(f.txtVellText), u"");
    EXPECT_EQ(SendMessageW(f.lstAvatars, LB_GETCOUNT, 0, 0), 0);
    EXPECT_EQ(h.Focus(), f.txtAvatar);
    EXPECT_EQ(f.EnableRuleRuns(), 0u) << "the rule does not run at start";

    // The link is opened once, with the program's name, before anything else.
    ASSERT_EQ(FakeHost::Get().calls, std::vector<std::string>{"InitDDE(window_tests)"});
    EXPECT_NE(FakeHost::Get().onStatus, nullptr);
    EXPECT_NE(FakeHost::Get().onMessage, nullptr);
    EXPECT_NE(FakeHost::Get().onText, nullptr);
    EXPECT_TRUE(h.fatal.empty());
}

// Records whether a window of frmDemo's class was ever shown.
bool gShown = false;
LRESULT CALLBACK ShowSpy(int code, WPARAM wParam, LPARAM lParam) {
    const auto* m = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && m->message == WM_SHOWWINDOW && m->wParam) {
        wchar_t name[64] = {};
        GetClassNameW(m->hwnd, name, 64);
        gShown = gShown || std::wstring(name) == QUIBDEMO_WINDOW_CLASS;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST(WindowStart, InitDDEFailureIsError10001AndTheWindowIsNeverShown) {
    for (const int16_t result : {int16_t{1}, int16_t{-1}}) {
        SCOPED_TRACE(result);
        WindowHarness h;
        FakeHost::Get().initResult = result;
        gShown = false;
        const HHOOK hook =
            SetWindowsHookExW(WH_CALLWNDPROC, &ShowSpy, nullptr, GetCurrentThreadId());
        const bool started = h.Start();
        UnhookWindowsHookEx(hook);

        EXPECT_FALSE(started);
        EXPECT_FALSE(gShown);
        EXPECT_EQ(h.Window(), nullptr) << "the window is gone";
        EXPECT_NE(h.Form().ExitCode(), 0);
        ASSERT_EQ(h.fatal.size(), 1u);
        EXPECT_EQ(h.fatal[0].Number(), 10001);
        EXPECT_EQ(h.fatal[0].Source(), u"window_tests");
        EXPECT_EQ(h.fatal[0].Description(), u"Failed to initialize DDE layer");
        // The library said no link was opened: nothing is closed.
        EXPECT_EQ(FakeHost::Get().calls, std::vector<std::string>{"InitDDE(window_tests)"});
    }
}

// --- Shutdown -------------------------------------------------------------------

TEST(WindowStop, EveryWayOfClosingCallsKillDDEOnceAndEndsWithZero) {
    struct Way {
        const char* name;
        void (*close)(WindowHarness&);
    };
    const Way ways[] = {
        {"Exit button", [](WindowHarness& h) { h.Click(h.Form().cmdExit); }},
        {"Alt+E", [](WindowHarness& h) { h.PressAccessKey(L'e'); }},
        {"WM_CLOSE", [](WindowHarness& h) { PostMessageW(h.Window(), WM_CLOSE, 0, 0); }},
        {"title bar close",
         [](WindowHarness& h) { PostMessageW(h.Window(), WM_SYSCOMMAND, SC_CLOSE, 0); }},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        WindowHarness h;
        ASSERT_TRUE(h.Start());
        way.close(h);
        const app::PumpResult r = h.PumpUntilQuit();
        EXPECT_TRUE(r.quit);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(h.Window(), nullptr);
        EXPECT_EQ(FakeHost::Get().Count("KillDDE"), 1);
        EXPECT_EQ(FakeHost::Get().calls.back(), "KillDDE()");
        EXPECT_TRUE(h.fatal.empty());
    }
}

// What the window did at each step of the end of a session.
struct SessionEnd {
    bool done = false;
    LRESULT answer = FALSE;         // to WM_QUERYENDSESSION
    bool cancelledKeptAll = false;  // WM_ENDSESSION(FALSE): no call, window as it was
    int killsWhenEnded = 0;         // KillDDE calls when WM_ENDSESSION(TRUE) returned
    std::string lastCall;
    bool goneWhenEnded = false;
};

// The system's messages at a logoff: the question, a cancelled end, then the
// end.
void EndTheSession(HWND w, SessionEnd& r) {
    const std::vector<std::string> calls = FakeHost::Get().calls;
    r.answer = SendMessageW(w, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);
    SendMessageW(w, WM_ENDSESSION, FALSE, ENDSESSION_LOGOFF);
    r.cancelledKeptAll = FakeHost::Get().calls == calls && IsWindowVisible(w);
    SendMessageW(w, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
    r.killsWhenEnded = FakeHost::Get().Count("KillDDE");
    r.lastCall = FakeHost::Get().calls.empty() ? "" : FakeHost::Get().calls.back();
    r.goneWhenEnded = !IsWindow(w);
    r.done = true;
}

HWND gSessionWindow = nullptr;
SessionEnd* gSessionEnd = nullptr;
void CALLBACK EndTheSessionNow(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    EndTheSession(gSessionWindow, *gSessionEnd);
}

// The end of a session is an unload: KillDDE once, before the message returns
// (the process may end without another), and never again. A fetch waiting for
// its text stops waiting.
TEST(WindowStop, TheEndOfASessionUnloadsOnceAndACancelledEndChangesNothing) {
    const std::chrono::seconds timeout(10);
    for (const bool duringAWait : {false, true}) {
        SCOPED_TRACE(duringAWait ? "during a fetch's wait" : "idle");
        SessionEnd r;
        {
            WindowHarness h;
            frmDemoOptions options = h.Options();
            options.textWaitTimeout = timeout;
            ASSERT_TRUE(h.Start(std::move(options)));
            if (duringAWait) {
                gSessionWindow = h.Window();
                gSessionEnd = &r;
                // The messages come while the fetch waits for a text that never
                // arrives.
                FakeHost::Get().onGetAllText = [] { SetTimer(nullptr, 0, 10, &EndTheSessionNow); };
                const auto start = std::chrono::steady_clock::now();
                h.Click(h.Form().cmdGetText);
                EXPECT_LT(std::chrono::steady_clock::now() - start, timeout / 2)
                    << "the wait went on";
            } else {
                EndTheSession(h.Window(), r);
            }
            ASSERT_TRUE(r.done);
            EXPECT_EQ(r.answer, TRUE);
            EXPECT_TRUE(r.cancelledKeptAll);
            EXPECT_EQ(r.killsWhenEnded, 1);
            EXPECT_EQ(r.lastCall, "KillDDE()");
            EXPECT_TRUE(r.goneWhenEnded);
            EXPECT_EQ(h.Window(), nullptr);
            EXPECT_TRUE(h.notices.empty());
            EXPECT_TRUE(h.fatal.empty());
            const app::PumpResult quit = h.PumpUntilQuit();
            EXPECT_TRUE(quit.quit);
            EXPECT_EQ(quit.exitCode, 0);
        }
        EXPECT_EQ(FakeHost::Get().Count("KillDDE"), 1) << "once over the program's life";
    }
}

// An error escaping a handler: the link is closed, the error reported, the
// window destroyed and the program ends with a non-zero code.
TEST(WindowErrors, AnErrorInAHandlerEndsTheProgram) {
    struct Case {
        const char* name;
        void (*raise)();
        int32_t number;
    };
    const Case cases[] = {
        {"numbered error", [] { throw NumberedError(5, u"x", u"Invalid procedure call"); }, 5},
        {"out of memory", [] { throw std::bad_alloc(); }, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WindowHarness h;
        ASSERT_TRUE(h.Start());
        FakeHost::Get().onCommunicate = [&c](char*, char*) { c.raise(); };
        SendMessageW(h.Form().cboCommunicationMode, CB_SETCURSEL, 0, 0);
        WindowHarness::SetText(h.Form().txtText, u"hi");  // runs the rule: enabled
        ASSERT_TRUE(IsWindowEnabled(h.Form().cmdCommunicate));
        h.Click(h.Form().cmdCommunicate);

        ASSERT_EQ(h.fatal.size(), 1u);
        EXPECT_EQ(h.fatal[0].Number(), c.number);
        EXPECT_EQ(h.Window(), nullptr);
        EXPECT_EQ(FakeHost::Get().Count("KillDDE"), 1);
        const app::PumpResult r = h.PumpUntilQuit();
        EXPECT_TRUE(r.quit);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(FakeHost::Get().Count("KillDDE"), 1) << "once over the program's life";
    }
}

// --- Commands -------------------------------------------------------------------

// Only the notification a control's handler is for reaches it: a new button,
// a label's click (the same code as a button's) or another notification of a
// handled control goes nowhere.
TEST(WindowCommands, ANotificationWithoutAHandlerReachesNone) {
    WindowHarness h;
    ASSERT_TRUE(h.Start());
    frmDemo& f = h.Form();
    const HWND w = h.Window();
    // Every button enabled, so that a click that went astray would show.
    SendMessageW(f.cboCommunicationMode, CB_SETCURSEL, 0, 0);
    WindowHarness::SetText(f.txtText, u"hi");
    ASSERT_TRUE(IsWindowEnabled(f.cmdCommunicate));
    constexpr int kNewButton = 1099;
    ASSERT_NE(CreateWindowExW(0, L"Button", L"&New", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 0, 0,
                              40, 20, w, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kNewButton)),
                              nullptr, nullptr),
              nullptr);
    const std::vector<std::string> calls = FakeHost::Get().calls;
    const uint32_t ruleRuns = f.EnableRuleRuns();

    const struct {
        const char* name;
        int id;
        int code;
    } notifications[] = {
        {"a new button's click", kNewButton, BN_CLICKED},
        {"a label's click", IDC_lblInfo, STN_CLICKED},
        {"a frame's click", IDC_fra1, BN_CLICKED},
        {"a double click on Get Vell Text", IDC_cmdGetText, BN_DOUBLECLICKED},
        {"Exit taking the focus", IDC_cmdExit, BN_SETFOCUS},
        {"the text box taking the focus", IDC_txtText, EN_SETFOCUS},
        {"the mode list opening", IDC_cboCommunicationMode, CBN_DROPDOWN},
        {"a double click in the avatar list", IDC_lstAvatars, LBN_DBLCLK},
    };
    for (const auto& n : notifications) {
        SCOPED_TRACE(n.name);
        SendMessageW(w, WM_COMMAND, MAKEWPARAM(n.id, n.code),
                     reinterpret_cast<LPARAM>(GetDlgItem(w, n.id)));
        h.Pump();
        EXPECT_EQ(FakeHost::Get().calls, calls);
        EXPECT_EQ(f.EnableRuleRuns(), ruleRuns);
        EXPECT_EQ(h.Window(), w);
        EXPECT_TRUE(h.notices.empty());
        EXPECT_TRUE(h.fatal.empty());
    }
}

// --- Keyboard -------------------------------------------------------------------

TEST(WindowKeyboard, TabWalksTheFocusableControlsInOrder) {
    WindowHarness h;
    ASSERT_TRUE(h.Start());
    frmDemo& f = h.Form();
    // cmdCommunicate is disabled and passed over.
    const std::vector<HWND> order = {f.cboCommunicationMode, f.txtText,    f.cmdQuibRegister,
                                     f.cmdQuibUnregister,    f.cmdGetText, f.cmdExit,
                                     f.txtVellText,          f.lstAvatars, f.txtAvatar};
    ASSERT_EQ(h.Focus(), f.txtAvatar);
    for (HWND expected : order) {
        h.PressKey(VK_TAB);
        ASSERT_EQ(h.Focus(), expected);
    }
    // Backwards with Shift+Tab.
    for (auto it = order.rbegin() + 1; it != order.rend(); ++it) {
        h.PressKey(VK_TAB, true);
        ASSERT_EQ(h.Focus(), *it);
    }
    h.PressKey(VK_TAB, true);
    EXPECT_EQ(h.Focus(), f.txtAvatar);
    // Tab in the multi-line text box moves on; it types no tab character.
    EXPECT_EQ(WindowHarness::Text(f.txtVellText), u"");
}

TEST(WindowKeyboard, TabStopsAtCommunicateWhileItIsEnabled) {
    WindowHarness h;
    ASSERT_TRUE(h.Start());
    frmDemo& f = h.Form();
    SetFocus(f.cboCommunicationMode);
    h.PressKey(VK_HOME);  // "Speak"
    WindowHarness::SetText(f.txtText, u"hello");
    ASSERT_TRUE(IsWindowEnabled(f.cmdCommunicate));
    SetFocus(f.cmdQuibUnregister);
    h.PressKey(VK_TAB);
    EXPECT_EQ(h.Focus(), f.cmdCommunicate);
    h.PressKey(VK_TAB);
    EXPECT_EQ(h.Focus(), f.cmdGetText);
}

TEST(WindowKeyboard, LabelAccessKeysFocusTheFieldBesideThem) {
    WindowHarness h;
    ASSERT_TRUE(h.Start());
    frmDemo& f = h.Form();
    const struct {
        wchar_t key;
        HWND field;
    } keys[] = {{L'a', f.txtAvatar}, {L'm', f.cboCommunicationMode}, {L't', f.txtText}};
    for (const auto& k : keys) {
        SetFocus(f.cmdExit);
        h.Pump();
        h.PressAccessKey(k.key);
        EXPECT_EQ(h.Focus(), k.field) << static_cast<char>(k.key);
    }
    // The tab order of the fields is untouched by the labels.
    SetFocus(f.txtAvatar);
    h.PressKey(VK_TAB);
    EXPECT_EQ(h.Focus(), f.cboCommunicationMode);
}

TEST(WindowKeyboard, ButtonAccessKeysClick) {
    WindowHarness h;
    ASSERT_TRUE(h.Start());
    h.PressAccessKey(L'r');
    h.PressAccessKey(L'u');
    EXPECT_EQ(FakeHost::Get().Count("QuibRegister"), 1);
    EXPECT_EQ(FakeHost::Get().Count("QuibUnregister"), 1);
    // Alt+C does nothing while "&Communicate" is disabled.
    h.PressAccessKey(L'c');
    EXPECT_EQ(FakeHost::Get().Count("QuibCommunicate"), 0);
}

}  // namespace
}  // namespace quib::test
