// frmDemo: start-up, shutdown, the DPI, the error convention and the window's
// messages. The layout is in layout.cpp, the communicate commands in
// frmDemo_communicate.cpp, the text-buffer commands in frmDemo_textbuffer.cpp.
#include "app/frmDemo.h"

#include <commctrl.h>

#include <new>
#include <optional>
#include <utility>

#include "app/control_ids.h"
#include "app/controls.h"
#include "app/dpi.h"
#include "app/layout.h"
#include "app/message_font.h"
#include "app/resources/resource.h"
#include "bridge/modQUIB.h"
#include "platform/exe_name.h"

namespace quib {

namespace {

constexpr wchar_t kCaption[] = QUIBDEMO_CAPTION;

using app::kClientHeight;
using app::kClientWidth;
using app::kWindowExStyle;
using app::kWindowStyle;

const wchar_t* AsWide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

// The program's own name as the source of an error, without failing.
std::u16string ErrorSource() noexcept {
    try {
        return platform::ExecutableName();
    } catch (...) {
        return std::u16string();
    }
}

// Error 51: a failure of the program itself.
NumberedError InternalError(std::u16string description) {
    return NumberedError(kErrInternal, ErrorSource(), std::move(description));
}

NumberedError SystemFailure(const char16_t* what) {
    const DWORD code = GetLastError();
    return InternalError(std::u16string(what) + u" (system error " + Decimal(code) + u")");
}

// The font of the controls at a DPI: the system's message font (or the one
// given, both at the system's DPI) under the legibility rule of CaptionFont.
platform::UniqueGdiObject<HFONT> ControlFont(const std::optional<LOGFONTW>& messageFont, int dpi) {
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof(metrics);
    if (!messageFont &&
        !SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
        throw SystemFailure(u"Can't read the system's message font");
    }
    LOGFONTW lf = messageFont.value_or(metrics.lfMessageFont);
    const int systemDpi = app::SystemDpi();
    if (dpi != systemDpi) {
        lf.lfHeight = MulDiv(lf.lfHeight, dpi, systemDpi);
    }
    lf = app::CaptionFont(lf, dpi, app::CaptionRooms(dpi));
    platform::UniqueGdiObject<HFONT> font(CreateFontIndirectW(&lf));
    if (!font) {
        throw SystemFailure(u"Can't create the message font");
    }
    return font;
}

// Outer size of the window for the layout's client area at a DPI.
SIZE LayoutOuterSize(int dpi, int frameDpi) {
    return app::OuterSize(app::PixelsAt(kClientWidth, dpi), app::PixelsAt(kClientHeight, dpi),
                          kWindowStyle, kWindowExStyle, frameDpi);
}

void ShowFatalBox(HWND owner, const NumberedError& error) {
    const std::u16string text = u"Error " + Decimal(error.Number()) + u"\n\n" + error.Description();
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
        modQUIB::DetachHost();
        library_.reset();
    }
}

int frmDemo::Pixels(int twips) const {
    return app::PixelsAt(twips, dpi_);
}

bool frmDemo::Start(int showCommand) {
    RunReportingFailure([&] {
        dpi_ = options_.dpi > 0 ? options_.dpi : app::SystemDpi();

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

        const SIZE outer = LayoutOuterSize(dpi_, app::SystemDpi());
        // Created hidden: it is shown only once it has loaded.
        CreateWindowExW(kWindowExStyle, QUIBDEMO_WINDOW_CLASS, kCaption, kWindowStyle,
                        CW_USEDEFAULT, CW_USEDEFAULT, outer.cx, outer.cy, nullptr, nullptr,
                        options_.instance, this);
        if (!hwnd_) {
            throw SystemFailure(u"Can't create the window");
        }
        // The monitor the system placed it on may have a DPI of its own.
        if (options_.dpi <= 0) {
            dpi_ = app::WindowDpi(hwnd_);
        }
        FitWindow(nullptr);
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
    font_ = ControlFont(options_.messageFont, dpi_);
    for (const app::ControlLayout& c : app::kControls) {
        const RECT r = app::PixelRect(c, dpi_);
        HWND control = CreateWindowExW(c.exStyle, c.windowClass, c.caption, c.style, r.left, r.top,
                                       r.right - r.left, r.bottom - r.top, hwnd_,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)),
                                       options_.instance, nullptr);
        if (!control) {
            throw SystemFailure(u"Can't create a control of the window");
        }
        ControlHandle(c.id) = control;
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), FALSE);
        // Placed again with its font: the mode list's height depends on it.
        app::PlaceControl(control, c, dpi_);
    }

    HWND previous = HWND_TOP;
    for (const int id : app::kZOrder) {
        const HWND control = ControlHandle(id);
        SetWindowPos(control, previous, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOREDRAW);
        previous = control;
    }
}

// --- Event handlers ------------------------------------------------------------

void frmDemo::Form_Load() {
    SetControlText(lblInfo, app::InfoText());

    SendMessageW(cboCommunicationMode, CB_RESETCONTENT, 0, 0);
    for (std::u16string_view mode : app::kModes) {
        const std::u16string entry(mode);
        const LRESULT at = SendMessageW(cboCommunicationMode, CB_ADDSTRING, 0,
                                        reinterpret_cast<LPARAM>(entry.c_str()));
        if (at == CB_ERR || at == CB_ERRSPACE) {
            throw OutOfMemoryError();
        }
    }
    SendMessageW(cboCommunicationMode, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);

    if (options_.host) {
        modQUIB::AttachHost(*options_.host);
    } else {
        library_ = modQUIB::HostLibrary::Load();
        modQUIB::AttachHost(library_->Table());
    }
    const int16_t result = modQUIB::InitDDE();
    if (result != 0) {
        // The library reported that no link was opened: there is nothing for
        // KillDDE to close.
        throw NumberedError(kErrInitDDE, platform::ExecutableName(),
                            u"Failed to initialize DDE layer");
    }
    linkOpen_ = true;
}

void frmDemo::Form_Unload() {
    CloseHostLink();
}

void frmDemo::Form_DpiChanged(int dpi, const RECT& suggested) {
    dpi_ = dpi;
    if (!fraInfo) {
        // Sized at start, before it has controls: they are made at this DPI.
        FitWindow(&suggested);
        return;
    }
    // The controls take the new font before the old one is freed.
    platform::UniqueGdiObject<HFONT> font = ControlFont(options_.messageFont, dpi_);
    for (const app::ControlLayout& c : app::kControls) {
        SendMessageW(ControlHandle(c.id), WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), FALSE);
    }
    font_ = std::move(font);
    for (const app::ControlLayout& c : app::kControls) {
        app::PlaceControl(ControlHandle(c.id), c, dpi_);
    }
    FitWindow(&suggested);
    RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void frmDemo::cmdExit_Click() {
    Unload();
}

std::u16string frmDemo::GetToken(std::u16string sText, std::u16string sDelimiter) {
    return tokenizer_.GetToken(std::move(sText), std::move(sDelimiter));
}

// --- Helpers ---------------------------------------------------------------------

void frmDemo::SetControlText(HWND control, const std::u16string& text) {
    if (!SetWindowTextW(control, AsWide(text))) {
        throw OutOfMemoryError();
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

void frmDemo::FitWindow(const RECT* suggested) {
    const int width = Pixels(kClientWidth);
    const int height = Pixels(kClientHeight);
    if (suggested) {
        SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top,
                     suggested->right - suggested->left, suggested->bottom - suggested->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    } else {
        const SIZE outer = LayoutOuterSize(dpi_, app::WindowDpi(hwnd_));
        SetWindowPos(hwnd_, nullptr, 0, 0, outer.cx, outer.cy,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (IsIconic(hwnd_)) {
        return;  // no client area to measure
    }
    // The frame is the system's to draw. Where the client area came out at
    // another size than the layout's (a suggestion scaled from the old size,
    // a system that cannot tell the frame at a DPI), the window grows or
    // shrinks by the difference, staying where it was put.
    RECT client;
    RECT window;
    GetClientRect(hwnd_, &client);
    GetWindowRect(hwnd_, &window);
    const int dx = width - (client.right - client.left);
    const int dy = height - (client.bottom - client.top);
    if (dx != 0 || dy != 0) {
        SetWindowPos(hwnd_, nullptr, 0, 0, window.right - window.left + dx,
                     window.bottom - window.top + dy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void frmDemo::CloseHostLink() {
    if (linkOpen_) {
        linkOpen_ = false;  // once, even if the call fails
        modQUIB::KillDDE();
    }
}

// --- Window plumbing -------------------------------------------------------------

template <typename MakeError>
void frmDemo::FailWith(MakeError&& makeError) noexcept {
    try {
        Fail(makeError());
    } catch (...) {
        // Not even the report could be made: end all the same.
        Fail(NumberedError(kErrOutOfMemory, std::u16string(), std::u16string()));
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
    } catch (const NumberedError& error) {
        Fail(error);
    } catch (const std::bad_alloc&) {
        FailWith([] { return OutOfMemoryError(); });
    } catch (const std::exception& e) {
        FailWith([&e] { return InternalError(u"Internal error: " + FromAscii(e.what())); });
    } catch (...) {
        FailWith([] { return InternalError(u"Internal error"); });
    }
    return false;
}

void frmDemo::Fail(const NumberedError& error) noexcept {
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
    switch (msg) {
        case WM_COMMAND:
            return OnCommand(msg, wParam, lParam);
        case WM_NEXTDLGCTL:
            return OnNextDlgCtl(wParam, lParam);
        case WM_ACTIVATE:
            return OnActivate(wParam);
        case WM_SETFOCUS:
            return OnSetFocus();
        case WM_CLOSE:
            return OnClose();
        case WM_QUERYENDSESSION:
            return OnQueryEndSession();
        case WM_ENDSESSION:
            return OnEndSession(wParam);
        case app::kGetDpiScaledSize:
            return OnGetDpiScaledSize(wParam, lParam);
        case WM_DPICHANGED:
            return OnDpiChanged(wParam, lParam);
        case WM_DESTROY:
            return OnDestroy();
        case WM_NCDESTROY:
            return OnNcDestroy(wParam, lParam);
        default:
            return DefWindowProcW(hwnd_, msg, wParam, lParam);
    }
}

LRESULT frmDemo::OnCommand(UINT msg, WPARAM wParam, LPARAM lParam) {
    if (lParam == 0) {
        // A menu or an accelerator: the window has neither.
        return DefWindowProcW(hwnd_, msg, wParam, lParam);
    }
    RunReportingFailure([&] { RouteCommand(LOWORD(wParam), HIWORD(wParam)); });
    return 0;
}

LRESULT frmDemo::OnNextDlgCtl(WPARAM wParam, LPARAM lParam) {
    NextControl(wParam, lParam);
    return 0;
}

LRESULT frmDemo::OnActivate(WPARAM wParam) {
    if (LOWORD(wParam) == WA_INACTIVE) {
        const HWND focus = app::FocusedChild(hwnd_);
        if (focus) {
            lastFocus_ = focus;
        }
    } else {
        RestoreFocus();
    }
    return 0;
}

LRESULT frmDemo::OnSetFocus() {
    RestoreFocus();
    return 0;
}

LRESULT frmDemo::OnClose() {
    RunReportingFailure([&] { Unload(); });
    return 0;
}

LRESULT frmDemo::OnQueryEndSession() {
    return TRUE;  // a logoff or shutdown is never held up
}

LRESULT frmDemo::OnEndSession(WPARAM ending) {
    // The session ends, and the process with it, without a further message:
    // the window is unloaded now, as it is when closed. A cancelled end
    // (FALSE) changes nothing.
    if (ending) {
        RunReportingFailure([&] { Unload(); });
    }
    return 0;
}

LRESULT frmDemo::OnGetDpiScaledSize(WPARAM wParam, LPARAM lParam) {
    // The size at the new DPI is the layout's, not the old size scaled, so
    // that WM_DPICHANGED suggests exactly that.
    const int dpi = static_cast<int>(wParam);
    *reinterpret_cast<SIZE*>(lParam) = LayoutOuterSize(dpi, dpi);
    return TRUE;
}

LRESULT frmDemo::OnDpiChanged(WPARAM wParam, LPARAM lParam) {
    // Both halves carry the same DPI; the rectangle is where the system wants
    // the window at it.
    if (lParam) {
        RunReportingFailure(
            [&] { Form_DpiChanged(LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam)); });
    }
    return 0;
}

LRESULT frmDemo::OnDestroy() {
    destroying_ = true;
    // Destroyed without an unload (e.g. by the system): the host link is
    // closed all the same.
    RunReportingFailure([&] { CloseHostLink(); });
    if (running_) {
        running_ = false;
        PostQuitMessage(exitCode_);
    }
    return 0;
}

LRESULT frmDemo::OnNcDestroy(WPARAM wParam, LPARAM lParam) {
    // The controls are gone by now: their font goes with them.
    const HWND hwnd = hwnd_;
    font_.Reset();
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    hwnd_ = nullptr;
    return DefWindowProcW(hwnd, WM_NCDESTROY, wParam, lParam);
}

void frmDemo::RestoreFocus() {
    if (txtAvatar) {
        SetFocus(lastFocus_ && IsWindowEnabled(lastFocus_) ? lastFocus_ : txtAvatar);
    }
}

HWND& frmDemo::ControlHandle(int id) {
    static constexpr std::pair<int, HWND frmDemo::*> kMembers[] = {
        {IDC_fraInfo, &frmDemo::fraInfo},
        {IDC_lblInfo, &frmDemo::lblInfo},
        {IDC_cmdQuibUnregister, &frmDemo::cmdQuibUnregister},
        {IDC_cmdQuibRegister, &frmDemo::cmdQuibRegister},
        {IDC_cmdExit, &frmDemo::cmdExit},
        {IDC_cmdGetText, &frmDemo::cmdGetText},
        {IDC_cmdCommunicate, &frmDemo::cmdCommunicate},
        {IDC_lstAvatars, &frmDemo::lstAvatars},
        {IDC_txtVellText, &frmDemo::txtVellText},
        {IDC_fra1, &frmDemo::fra1},
        {IDC_txtText, &frmDemo::txtText},
        {IDC_cboCommunicationMode, &frmDemo::cboCommunicationMode},
        {IDC_txtAvatar, &frmDemo::txtAvatar},
        {IDC_Mode, &frmDemo::Mode},
        {IDC_lblText, &frmDemo::lblText},
        {IDC_lblAvatar, &frmDemo::lblAvatar},
        {IDC_lblAvatars, &frmDemo::lblAvatars},
        {IDC_lblVellText, &frmDemo::lblVellText},
    };
    for (const auto& [controlId, member] : kMembers) {
        if (controlId == id) {
            return this->*member;
        }
    }
    throw InternalError(u"The layout names a control the window does not have");
}

void frmDemo::RouteCommand(int id, int code) {
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
        HWND from = app::FocusedChild(hwnd_);
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

}  // namespace quib
