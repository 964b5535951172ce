// frmDemo: layout, start-up, shutdown, the error convention and the
// communicate commands.
#include "app/frmDemo.h"

#include <commctrl.h>

#include <array>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

#include "app/control_ids.h"
#include "app/controls.h"
#include "app/message_font.h"
#include "app/resources/resource.h"
#include "bridge/modQUIB.h"
#include "platform/exe_name.h"

namespace {

constexpr wchar_t kCaption[] = QUIBDEMO_CAPTION;

// The window's client area, in twips.
constexpr int kClientWidth = 7032;
constexpr int kClientHeight = 5700;
constexpr int kTwipsPerInch = 1440;

constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kWindowExStyle = 0;

// The information text, in the five pieces it is made of.
constexpr std::u16string_view kInfoPieces[] = {
    u"This demo demonstrates the use of Tolvik's VELLQUIB DLL which greatly simplifies ",
    u"programming Plug-Ins for Vell in Visual Basic. VELLQUIB allows for ",
    u"fast and reliable communication with the Vell server. Included in the demo ",
    u"are also some functions to detect lag while communicating and getting ",
    u"a list of all Avatars listed in your text buffer.",
};

constexpr std::u16string_view kModes[] = {u"Speak", u"Think", u"ESP"};

// One control as the window's designer laid it out. Positions are twips from
// the top-left corner of the container: the frame named, or the window's
// client area for nullptr.
struct ControlSpec {
    HWND frmDemo::*member;
    int id;
    const wchar_t* windowClass;
    DWORD style;
    DWORD exStyle;
    const wchar_t* caption;
    HWND frmDemo::*container;
    int left, top, width, height;
};

constexpr DWORD kChild = WS_CHILD | WS_CLIPSIBLINGS;
constexpr DWORD kShown = kChild | WS_VISIBLE;
constexpr DWORD kFocusable = kShown | WS_TABSTOP | WS_GROUP;
constexpr DWORD kFrame = kShown | BS_GROUPBOX;
constexpr DWORD kButton = kFocusable | BS_PUSHBUTTON;
constexpr DWORD kOneLine = kFocusable | ES_LEFT | ES_AUTOHSCROLL;
constexpr DWORD kLabel = kShown | SS_LEFT;

// The eighteen controls, in the order the window creates them.
const std::array<ControlSpec, 18> kControls = {{
    {&frmDemo::fraInfo, IDC_fraInfo, WC_BUTTONW, kFrame, 0, L"", nullptr, 120, 60, 6792, 1272},
    {&frmDemo::lblInfo, IDC_lblInfo, WC_STATICW, kLabel | SS_NOPREFIX, 0, L"", &frmDemo::fraInfo,
     120, 240, 6552, 852},
    {&frmDemo::cmdQuibUnregister, IDC_cmdQuibUnregister, WC_BUTTONW, kButton, 0,
     L"QUIB &Unregister", nullptr, 1500, 5220, 1272, 372},
    {&frmDemo::cmdQuibRegister, IDC_cmdQuibRegister, WC_BUTTONW, kButton, 0, L"QUIB &Register",
     nullptr, 120, 5220, 1272, 372},
    {&frmDemo::cmdExit, IDC_cmdExit, WC_BUTTONW, kButton, 0, L"&Exit", nullptr, 5640, 5220, 1272,
     372},
    {&frmDemo::cmdGetText, IDC_cmdGetText, WC_BUTTONW, kButton, 0, L"&Get Vell Text", nullptr, 4260,
     5220, 1272, 372},
    {&frmDemo::cmdCommunicate, IDC_cmdCommunicate, WC_BUTTONW, kButton | WS_DISABLED, 0,
     L"&Communicate", nullptr, 2880, 5220, 1272, 372},
    // Entries stay in the order they are added; the height is exactly the
    // laid-out one, not rounded to whole entries.
    {&frmDemo::lstAvatars, IDC_lstAvatars, WC_LISTBOXW,
     kFocusable | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL, WS_EX_CLIENTEDGE, L"", nullptr,
     4800, 2820, 2112, 2160},
    {&frmDemo::txtVellText, IDC_txtVellText, WC_EDITW,
     kFocusable | ES_LEFT | ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_WANTRETURN |
         WS_VSCROLL | WS_HSCROLL,
     WS_EX_CLIENTEDGE, L"", nullptr, 120, 2820, 4572, 2172},
    {&frmDemo::fra1, IDC_fra1, WC_BUTTONW, kFrame, 0, L"", nullptr, 120, 1440, 6792, 1212},
    {&frmDemo::txtText, IDC_txtText, WC_EDITW, kOneLine, WS_EX_CLIENTEDGE, L"", &frmDemo::fra1,
     1080, 720, 5592, 300},
    {&frmDemo::cboCommunicationMode, IDC_cboCommunicationMode, WC_COMBOBOXW,
     kFocusable | CBS_DROPDOWNLIST | WS_VSCROLL, 0, L"", &frmDemo::fra1, 5280, 240, 1392, 288},
    {&frmDemo::txtAvatar, IDC_txtAvatar, WC_EDITW, kOneLine, WS_EX_CLIENTEDGE, L"", &frmDemo::fra1,
     1080, 240, 3072, 300},
    {&frmDemo::Mode, IDC_Mode, WC_STATICW, kLabel, 0, L"&Mode", &frmDemo::fra1, 4380, 300, 852,
     252},
    {&frmDemo::lblText, IDC_lblText, WC_STATICW, kLabel, 0, L"&Text", &frmDemo::fra1, 120, 720, 852,
     252},
    {&frmDemo::lblAvatar, IDC_lblAvatar, WC_STATICW, kLabel, 0, L"&Avatar", &frmDemo::fra1, 120,
     300, 852, 252},
    // These two stand where fra1 covers them, and there is no free space of
    // their height between fra1 and the lists: they stay where they are laid
    // out, hidden, instead of being drawn over the frame's fields.
    {&frmDemo::lblAvatars, IDC_lblAvatars, WC_STATICW, kChild | SS_LEFT | SS_NOPREFIX, 0,
     L"Avatars", nullptr, 4860, 1500, 1392, 252},
    {&frmDemo::lblVellText, IDC_lblVellText, WC_STATICW, kChild | SS_LEFT | SS_NOPREFIX, 0,
     L"Vell Textbuffer", nullptr, 120, 1500, 2052, 252},
}};

// The order of the controls from top to bottom. Tab and Shift+Tab walk the
// focusable ones in this order; each label stands directly before the field
// it names, so that its access key lands there; the frames are last, behind
// everything they surround.
constexpr HWND frmDemo::*kZOrder[] = {
    &frmDemo::lblAvatar,
    &frmDemo::txtAvatar,
    &frmDemo::Mode,
    &frmDemo::cboCommunicationMode,
    &frmDemo::lblText,
    &frmDemo::txtText,
    &frmDemo::cmdQuibRegister,
    &frmDemo::cmdQuibUnregister,
    &frmDemo::cmdCommunicate,
    &frmDemo::cmdGetText,
    &frmDemo::cmdExit,
    &frmDemo::lblVellText,
    &frmDemo::txtVellText,
    &frmDemo::lblAvatars,
    &frmDemo::lstAvatars,
    &frmDemo::lblInfo,
    &frmDemo::fraInfo,
    &frmDemo::fra1,
};

// Where a container's client area begins, in twips from the window's.
POINT ContainerOrigin(HWND frmDemo::*container) {
    for (const ControlSpec& frame : kControls) {
        if (container && frame.member == container) {
            return {frame.left, frame.top};
        }
    }
    return {0, 0};
}

// The captions the window shows and the room each has, in pixels at a DPI.
std::vector<quib::app::CaptionRoom> CaptionRooms(int dpi) {
    std::vector<quib::app::CaptionRoom> rooms;
    for (const ControlSpec& c : kControls) {
        const bool button = c.windowClass == std::wstring_view(WC_BUTTONW) &&
                            (c.style & BS_TYPEMASK) == BS_PUSHBUTTON;
        const bool label = c.windowClass == std::wstring_view(WC_STATICW);
        if (!(c.style & WS_VISIBLE) || !(button || label)) {
            continue;
        }
        quib::app::CaptionRoom room;
        room.kind =
            button ? quib::app::CaptionRoom::Kind::Button : quib::app::CaptionRoom::Kind::Label;
        room.accessKeys = !(c.style & SS_NOPREFIX) || button;
        // Converted edge by edge, as the controls are placed.
        const POINT origin = ContainerOrigin(c.container);
        const int left = origin.x + c.left;
        const int top = origin.y + c.top;
        const auto px = [dpi](int twips) { return MulDiv(twips, dpi, kTwipsPerInch); };
        room.width = px(left + c.width) - px(left);
        room.height = px(top + c.height) - px(top);
        if (c.member == &frmDemo::lblInfo) {
            for (std::u16string_view piece : kInfoPieces) {
                room.text += piece;
            }
        } else {
            room.text = reinterpret_cast<const char16_t*>(c.caption);
        }
        rooms.push_back(std::move(room));
    }
    return rooms;
}

const wchar_t* AsWide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

// The program's own name as the source of an error, without failing.
std::u16string ErrorSource() noexcept {
    try {
        return quib::platform::ExecutableName();
    } catch (...) {
        return std::u16string();
    }
}

// Error 51: a failure of the program itself.
quib::NumberedError InternalError(std::u16string description) {
    return quib::NumberedError(quib::kErrInternal, ErrorSource(), std::move(description));
}

quib::NumberedError SystemFailure(const char16_t* what) {
    const DWORD code = GetLastError();
    return InternalError(std::u16string(what) + u" (system error " + quib::Decimal(code) + u")");
}

int SystemDpi() {
    const quib::platform::UniqueWindowDC screen = quib::platform::ClientDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen.Get(), LOGPIXELSY) : 96;
    return dpi > 0 ? dpi : 96;
}

void ShowFatalBox(HWND owner, const quib::NumberedError& error) {
    const std::u16string text =
        u"Error " + quib::Decimal(error.Number()) + u"\n\n" + error.Description();
    MessageBoxW(owner, AsWide(text), kAppTitle, MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

void ShowNoticeBox(HWND owner, const std::u16string& text) {
    MessageBoxW(owner, AsWide(text), kAppTitle, MB_OK | MB_ICONWARNING);
}

}  // namespace

// --- Construction and start-up -------------------------------------------------

frmDemo::frmDemo(frmDemoOptions options) : options_(std::move(options)) {
    if (!options_.instance) {
        options_.instance = GetModuleHandleW(nullptr);
    }
}

frmDemo::~frmDemo() {
    running_ = false;  // the program is ending anyway: post no quit
    if (hwnd_) {
        destroying_ = true;
        DestroyWindow(hwnd_);
    }
    if (library_) {
        quib::modQUIB::DetachHost();
        library_.reset();
    }
}

int frmDemo::Pixels(int twips) const {
    return MulDiv(twips, dpi_, kTwipsPerInch);
}

bool frmDemo::Start(int showCommand) {
    RunReportingFailure([&] {
        dpi_ = options_.dpi > 0 ? options_.dpi : SystemDpi();

        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof(wc);
        if (!GetClassInfoExW(options_.instance, QUIBDEMO_WINDOW_CLASS, &wc)) {
            INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_STANDARD_CLASSES};
            InitCommonControlsEx(&icc);
            wc = {};
            wc.cbSize = sizeof(wc);
            wc.lpfnWndProc = &frmDemo::WindowProc;
            wc.hInstance = options_.instance;
            wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
            wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
            wc.lpszClassName = QUIBDEMO_WINDOW_CLASS;
            wc.hIcon = static_cast<HICON>(
                LoadImageW(options_.instance, MAKEINTRESOURCEW(IDI_QUIBDEMO), IMAGE_ICON,
                           GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), LR_SHARED));
            wc.hIconSm = static_cast<HICON>(LoadImageW(
                options_.instance, MAKEINTRESOURCEW(IDI_QUIBDEMO), IMAGE_ICON,
                GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_SHARED));
            if (!RegisterClassExW(&wc)) {
                throw SystemFailure(u"Can't register the window class");
            }
        }

        RECT frame = {0, 0, Pixels(kClientWidth), Pixels(kClientHeight)};
        AdjustWindowRectEx(&frame, kWindowStyle, FALSE, kWindowExStyle);
        // Created hidden: it is shown only once it has loaded.
        CreateWindowExW(kWindowExStyle, QUIBDEMO_WINDOW_CLASS, kCaption, kWindowStyle,
                        CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                        frame.bottom - frame.top, nullptr, nullptr, options_.instance, this);
        if (!hwnd_) {
            throw SystemFailure(u"Can't create the window");
        }
        CreateControls();
        Form_Load();
    });
    if (failed_ || !hwnd_) {
        return false;
    }
    running_ = true;
    ShowWindow(hwnd_, showCommand);
    UpdateWindow(hwnd_);
    SetFocus(txtAvatar);
    return true;
}

void frmDemo::CreateControls() {
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof(metrics);
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
        throw SystemFailure(u"Can't read the system's message font");
    }
    LOGFONTW lf = options_.messageFont.value_or(metrics.lfMessageFont);
    const int systemDpi = SystemDpi();
    if (dpi_ != systemDpi) {
        lf.lfHeight = MulDiv(lf.lfHeight, dpi_, systemDpi);
    }
    lf = quib::app::CaptionFont(lf, dpi_, CaptionRooms(dpi_));
    font_.Reset(CreateFontIndirectW(&lf));
    if (!font_) {
        throw SystemFailure(u"Can't create the message font");
    }

    for (const ControlSpec& c : kControls) {
        const POINT origin = ContainerOrigin(c.container);
        const int left = origin.x + c.left;
        const int top = origin.y + c.top;
        // Both edges are converted, so that edges that line up in twips line
        // up in pixels at every DPI.
        const int x = Pixels(left);
        const int y = Pixels(top);
        const int w = Pixels(left + c.width) - x;
        const int h = Pixels(top + c.height) - y;
        HWND control = CreateWindowExW(c.exStyle, c.windowClass, c.caption, c.style, x, y, w, h,
                                       hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)),
                                       options_.instance, nullptr);
        if (!control) {
            throw SystemFailure(u"Can't create a control of the window");
        }
        this->*c.member = control;
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), FALSE);

        if (c.member == &frmDemo::cboCommunicationMode) {
            // The window's height is the open list's: room for every mode.
            const int item = static_cast<int>(SendMessageW(control, CB_GETITEMHEIGHT, 0, 0));
            SetWindowPos(control, nullptr, 0, 0, w,
                         h + 2 + item * static_cast<int>(std::size(kModes)),
                         SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
            // The closed field keeps the height its font gives it: the control
            // does not take a lower one, whatever the laid-out height.
        }
    }

    HWND previous = HWND_TOP;
    for (HWND frmDemo::*member : kZOrder) {
        SetWindowPos(this->*member, previous, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOREDRAW);
        previous = this->*member;
    }
}

// --- Event handlers ------------------------------------------------------------

void frmDemo::Form_Load() {
    std::u16string info;
    for (std::u16string_view piece : kInfoPieces) {
        info += piece;
    }
    SetControlText(lblInfo, info);

    SendMessageW(cboCommunicationMode, CB_RESETCONTENT, 0, 0);
    for (std::u16string_view mode : kModes) {
        const std::u16string entry(mode);
        const LRESULT at = SendMessageW(cboCommunicationMode, CB_ADDSTRING, 0,
                                        reinterpret_cast<LPARAM>(entry.c_str()));
        if (at == CB_ERR || at == CB_ERRSPACE) {
            throw quib::OutOfMemoryError();
        }
    }
    SendMessageW(cboCommunicationMode, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);

    if (options_.host) {
        quib::modQUIB::AttachHost(*options_.host);
    } else {
        library_ = quib::modQUIB::HostLibrary::Load();
        quib::modQUIB::AttachHost(library_->Table());
    }
    const int16_t result = quib::modQUIB::InitDDE();
    if (result != 0) {
        // The library reported that no link was opened: there is nothing for
        // KillDDE to close.
        throw quib::NumberedError(quib::kErrInitDDE, quib::platform::ExecutableName(),
                                  u"Failed to initialize DDE layer");
    }
    linkOpen_ = true;
}

void frmDemo::Form_Unload() {
    CloseHostLink();
}

void frmDemo::cmdExit_Click() {
    Unload();
}

void frmDemo::cboCommunicationMode_Click() {
    UpdateCommunicateButton();
}

void frmDemo::txtText_Change() {
    UpdateCommunicateButton();
}

void frmDemo::txtAvatar_Change() {
    UpdateCommunicateButton();
}

void frmDemo::cmdCommunicate_Click() {
    const int16_t mode = quib::NarrowTo16(SendMessageW(cboCommunicationMode, CB_GETCURSEL, 0, 0));
    const std::u16string avatar = quib::app::ControlText(txtAvatar);
    const std::u16string line = quib::app::ControlText(txtText);
    const quib::modQUIB::RequestOutcome outcome = quib::modQUIB::Communicate(mode, avatar, line);
    if (!outcome.completed) {
        Notice(u"The host did not complete the request: it was still answering with status \"" +
               outcome.lastStatus + u"\" after " + quib::Decimal(outcome.calls) +
               u" attempts, so the request was given up. The line may not have been sent.");
    }
}

void frmDemo::cmdQuibRegister_Click() {
    quib::modQUIB::QuibRegister();
}

void frmDemo::cmdQuibUnregister_Click() {
    quib::modQUIB::QuibUnregister();
}

// --- Private procedures ----------------------------------------------------------

void frmDemo::UpdateCommunicateButton() {
    ++enableRuleRuns_;
    const int16_t mode = quib::NarrowTo16(SendMessageW(cboCommunicationMode, CB_GETCURSEL, 0, 0));
    bool enabled = false;
    switch (mode) {
        case 0:  // Speak
        case 1:  // Think
            enabled = !quib::app::ControlText(txtText).empty();
            break;
        case 2: {  // ESP: both texts are read, then decided
            const bool hasAvatar = !quib::app::ControlText(txtAvatar).empty();
            const bool hasLine = !quib::app::ControlText(txtText).empty();
            enabled = hasAvatar && hasLine;
            break;
        }
        default:
            enabled = false;
            break;
    }
    if (!enabled && quib::app::FocusedChild(hwnd_) == cmdCommunicate) {
        // A disabled button cannot keep the focus: pass it on.
        NextControl(0, 0);
    }
    EnableWindow(cmdCommunicate, enabled ? TRUE : FALSE);
}

std::u16string frmDemo::GetToken(std::u16string sText, std::u16string sDelimiter) {
    return tokenizer_.GetToken(std::move(sText), std::move(sDelimiter));
}

// --- Helpers ---------------------------------------------------------------------

void frmDemo::SetControlText(HWND control, const std::u16string& text) {
    if (!SetWindowTextW(control, AsWide(text))) {
        throw quib::OutOfMemoryError();
    }
}

void frmDemo::Notice(const std::u16string& text) {
    if (options_.reportNotice) {
        options_.reportNotice(text);
    } else {
        ShowNoticeBox(hwnd_, text);
    }
}

void frmDemo::Unload() {
    Form_Unload();
    if (hwnd_ && !destroying_) {
        destroying_ = true;
        DestroyWindow(hwnd_);
    }
}

void frmDemo::CloseHostLink() {
    if (linkOpen_) {
        linkOpen_ = false;  // once, even if the call fails
        quib::modQUIB::KillDDE();
    }
}

// --- Window plumbing -------------------------------------------------------------

template <typename MakeError>
void frmDemo::FailWith(MakeError&& makeError) noexcept {
    try {
        Fail(makeError());
    } catch (...) {
        // Not even the report could be made: end all the same.
        Fail(quib::NumberedError(quib::kErrOutOfMemory, std::u16string(), std::u16string()));
    }
}

template <typename Body>
bool frmDemo::RunReportingFailure(Body&& body) noexcept {
    if (failed_) {
        return false;
    }
    // Anything else than a numbered error is reported as one too; out of
    // memory keeps its own number.
    try {
        body();
        return true;
    } catch (const quib::NumberedError& error) {
        Fail(error);
    } catch (const std::bad_alloc&) {
        FailWith([] { return quib::OutOfMemoryError(); });
    } catch (const std::exception& e) {
        FailWith([&e] { return InternalError(u"Internal error: " + quib::FromAscii(e.what())); });
    } catch (...) {
        FailWith([] { return InternalError(u"Internal error"); });
    }
    return false;
}

void frmDemo::Fail(const quib::NumberedError& error) noexcept {
    if (failed_) {
        return;
    }
    failed_ = true;
    exitCode_ = 1;
    try {
        CloseHostLink();
    } catch (...) {
        // The program ends anyway; the first error is the one to show.
    }
    try {
        if (options_.reportFatal) {
            options_.reportFatal(error);
        } else {
            ShowFatalBox(running_ ? hwnd_ : nullptr, error);
        }
    } catch (...) {
    }
    if (hwnd_ && !destroying_) {
        destroying_ = true;
        DestroyWindow(hwnd_);  // WM_DESTROY ends the message loop
    }
}

LRESULT CALLBACK frmDemo::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    frmDemo* self = nullptr;
    if (msg == WM_NCCREATE) {
        self = static_cast<frmDemo*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->hwnd_ = hwnd;
    } else {
        self = reinterpret_cast<frmDemo*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    }
    if (!self) {
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    return self->HandleMessage(msg, wParam, lParam);
}

LRESULT frmDemo::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    const HWND hwnd = hwnd_;
    switch (msg) {
        case WM_COMMAND:
            if (lParam != 0) {
                RunReportingFailure([&] { OnCommand(LOWORD(wParam), HIWORD(wParam)); });
                return 0;
            }
            break;
        case WM_NEXTDLGCTL:
            NextControl(wParam, lParam);
            return 0;
        case WM_ACTIVATE:
            if (LOWORD(wParam) == WA_INACTIVE) {
                const HWND focus = quib::app::FocusedChild(hwnd);
                if (focus) {
                    lastFocus_ = focus;
                }
            } else if (txtAvatar) {
                SetFocus(lastFocus_ && IsWindowEnabled(lastFocus_) ? lastFocus_ : txtAvatar);
            }
            return 0;
        case WM_SETFOCUS:
            if (txtAvatar) {
                SetFocus(lastFocus_ && IsWindowEnabled(lastFocus_) ? lastFocus_ : txtAvatar);
            }
            return 0;
        case WM_CLOSE:
            RunReportingFailure([&] { Unload(); });
            return 0;
        case WM_DESTROY:
            destroying_ = true;
            // Destroyed without an unload (e.g. by the system): the host link
            // is closed all the same.
            RunReportingFailure([&] { CloseHostLink(); });
            if (running_) {
                running_ = false;
                PostQuitMessage(exitCode_);
            }
            return 0;
        case WM_NCDESTROY:
            // The controls are gone by now: their font goes with them.
            font_.Reset();
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            hwnd_ = nullptr;
            break;
        default:
            break;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

void frmDemo::OnCommand(int id, int code) {
    // One entry a control: the notification its handler is for.
    struct Route {
        int id;
        int code;
        void (frmDemo::*handler)();
    };
    static constexpr Route kRoutes[] = {
        {IDC_cmdQuibUnregister, BN_CLICKED, &frmDemo::cmdQuibUnregister_Click},
        {IDC_cmdQuibRegister, BN_CLICKED, &frmDemo::cmdQuibRegister_Click},
        {IDC_cmdExit, BN_CLICKED, &frmDemo::cmdExit_Click},
        {IDC_cmdGetText, BN_CLICKED, &frmDemo::cmdGetText_Click},
        {IDC_cmdCommunicate, BN_CLICKED, &frmDemo::cmdCommunicate_Click},
        {IDC_lstAvatars, LBN_SELCHANGE, &frmDemo::lstAvatars_Click},
        {IDC_txtText, EN_CHANGE, &frmDemo::txtText_Change},
        // An entry selected by mouse or keyboard.
        {IDC_cboCommunicationMode, CBN_SELCHANGE, &frmDemo::cboCommunicationMode_Click},
        {IDC_txtAvatar, EN_CHANGE, &frmDemo::txtAvatar_Change},
    };
    for (const Route& route : kRoutes) {
        if (route.id != id) {
            continue;
        }
        if (route.code != code) {
            return;
        }
        if (code == BN_CLICKED) {
            const HWND button = GetDlgItem(hwnd_, id);
            if (!button || !IsWindowEnabled(button)) {
                return;  // a click that reaches a disabled button is no click
            }
        }
        (this->*route.handler)();
        return;
    }
}

// Moves the focus as a dialog does. IsDialogMessage sends this for a label's
// access key (first the label, then "next"), and the multi-line text box sends
// it for Tab and Shift+Tab.
void frmDemo::NextControl(WPARAM wParam, LPARAM lParam) {
    HWND target = nullptr;
    if (LOWORD(lParam)) {
        target = reinterpret_cast<HWND>(wParam);
    } else {
        HWND from = quib::app::FocusedChild(hwnd_);
        target = GetNextDlgTabItem(hwnd_, from, wParam != 0 ? TRUE : FALSE);
    }
    if (!target || !IsChild(hwnd_, target)) {
        return;
    }
    if (SendMessageW(target, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) {
        SendMessageW(target, EM_SETSEL, 0, -1);
    }
    SetFocus(target);
}
