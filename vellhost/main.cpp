// vellhost.exe: the simulated host client that any number of plug-ins join
// through the stand-in vellquib.dll (host_server.h). Its window shows what
// the host client sees: the world's buffer, the plug-ins joined, a log of
// every call and callback; it lets a person play any avatar and change the
// world's settings while it runs.
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host_server.h"
#include "host_world.h"
#include "owned.h"
#include "owned_win32.h"
#include "process_log.h"

namespace {

using quib::vellhost::HostServer;
using quib::vellhost::HostWorld;

enum : int {
    kBufferLabel = 100,
    kBuffer,
    kLogLabel,
    kLog,
    kMembersLabel,
    kMembers,
    kAsLabel,
    kAs,
    kModeLabel,
    kMode,
    kToLabel,
    kTo,
    kLineLabel,
    kLine,
    kSay,
    kBusyLabel,
    kBusy,
    kDelayLabel,
    kDelay,
    kChatterLabel,
    kChatter,
    kApply,
};

constexpr wchar_t kWindowClass[] = L"VellHost.Window";
constexpr UINT_PTR kRefreshTimer = 1;
constexpr UINT kRefreshMs = 250;
constexpr size_t kLogLines = 400;

std::wstring Wide(std::string_view bytes) {
    if (bytes.empty()) {
        return {};
    }
    const int n =
        MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(), n);
    // A NUL in a line would end the control's text early.
    for (wchar_t& c : out) {
        if (c == L'\0') {
            c = L' ';
        }
    }
    return out;
}

std::string Narrow(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    const int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

std::wstring ControlText(HWND control) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return text;
}

// A window's device context with a font chosen into it, given back at the end.
class FontDC {
  public:
    FontDC(HWND window, HFONT font)
        : window_(window), dc_(GetDC(window)), old_(font ? SelectObject(dc_, font) : nullptr) {}
    ~FontDC() {
        if (old_) {
            SelectObject(dc_, old_);
        }
        ReleaseDC(window_, dc_);
    }
    FontDC(const FontDC&) = delete;
    FontDC& operator=(const FontDC&) = delete;
    HDC Get() const { return dc_; }

  private:
    HWND window_;
    HDC dc_;
    HGDIOBJ old_;
};

class HostWindow {
  public:
    explicit HostWindow(HINSTANCE instance)
        : instance_(instance),
          world_(quib::standin::Config::FromEnvironment(&quib::standin::EnvironmentValue)),
          server_(
              world_, [this](const std::string& line) { AddLog(line); },
              [this] { dirty_ = true; }) {}

    // False when the window or the wire cannot be made (another host runs).
    bool Start(int show) {
        if (!server_.Open()) {
            MessageBoxW(nullptr, L"Another vellhost.exe runs in this session already.", L"vellhost",
                        MB_ICONERROR);
            return false;
        }
        if (const auto path = quib::standin::EnvironmentValue("VELLHOST_LOG")) {
            logFile_.reset(std::fopen(path->c_str(), "ab"));
        }
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = &HostWindow::Proc;
        wc.hInstance = instance_;
        wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = kWindowClass;
        wc.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
        RegisterClassExW(&wc);
        dpi_ = GetDeviceCaps(FontDC(nullptr, nullptr).Get(), LOGPIXELSY);
        // As large as the layout wants, within the screen's work area.
        RECT work = {0, 0, Scale(860), Scale(600)};
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
        window_ = CreateWindowExW(0, kWindowClass, L"vellhost - simulated Vell host client",
                                  WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT,
                                  CW_USEDEFAULT, std::min<int>(Scale(860), work.right - work.left),
                                  std::min<int>(Scale(600), work.bottom - work.top), nullptr,
                                  nullptr, instance_, this);
        if (!window_) {
            return false;
        }
        ShowWindow(window_, show);
        UpdateWindow(window_);
        return true;
    }

    HWND Handle() const { return window_; }

  private:
    int Scale(int px) const { return MulDiv(px, dpi_, 96); }

    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
        if (msg == WM_NCCREATE) {
            auto* self =
                static_cast<HostWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
            self->window_ = hwnd;
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        }
        auto* self = reinterpret_cast<HostWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        return self ? self->Handle(msg, wParam, lParam) : DefWindowProcW(hwnd, msg, wParam, lParam);
    }

    LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam) {
        switch (msg) {
            case WM_CREATE:
                Create();
                return 0;
            case WM_SIZE:
                Layout();
                return 0;
            case WM_GETMINMAXINFO: {
                auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
                info->ptMinTrackSize = {Scale(640), Scale(480)};
                return 0;
            }
            case WM_TIMER:
                if (wParam == kRefreshTimer && dirty_) {
                    Refresh();
                }
                return 0;
            case WM_COMMAND:
                Command(LOWORD(wParam), HIWORD(wParam));
                return 0;
            case WM_DESTROY:
                PostQuitMessage(0);
                return 0;
            default:
                return DefWindowProcW(window_, msg, wParam, lParam);
        }
    }

    HWND Add(int id, const wchar_t* cls, const wchar_t* text, DWORD style, DWORD exStyle = 0) {
        HWND c = CreateWindowExW(
            exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, Scale(120), Scale(24), window_,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
        SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
        return c;
    }
    HWND Item(int id) const { return GetDlgItem(window_, id); }

    void Create() {
        NONCLIENTMETRICSW metrics = {};
        metrics.cbSize = sizeof metrics;
        SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
        font_.reset(CreateFontIndirectW(&metrics.lfMessageFont));
        // Tab order follows creation: the line to say first, then the
        // settings, then the views.
        Add(kAsLabel, L"STATIC", L"Speak &as:", SS_LEFT);
        HWND as =
            Add(kAs, L"COMBOBOX", L"", WS_TABSTOP | CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL);
        for (const std::string& a : quib::standin::World::Avatars()) {
            SendMessageW(as, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(a).c_str()));
        }
        SendMessageW(as, CB_SETCURSEL, 0, 0);
        Add(kModeLabel, L"STATIC", L"&Mode:", SS_LEFT);
        HWND mode = Add(kMode, L"COMBOBOX", L"", WS_TABSTOP | CBS_DROPDOWNLIST | WS_VSCROLL);
        for (const wchar_t* m : {L"Speak", L"Think", L"ESP"}) {
            SendMessageW(mode, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(m));
        }
        SendMessageW(mode, CB_SETCURSEL, 0, 0);
        Add(kToLabel, L"STATIC", L"ESP &to:", SS_LEFT);
        Add(kTo, L"EDIT", L"Visitor", WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE);
        Add(kLineLabel, L"STATIC", L"&Line:", SS_LEFT);
        Add(kLine, L"EDIT", L"", WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE);
        Add(kSay, L"BUTTON", L"&Say", WS_TABSTOP | BS_DEFPUSHBUTTON);
        const auto& c = world_.Settings();
        Add(kBusyLabel, L"STATIC", L"&Busy share (%):", SS_LEFT);
        Add(kBusy, L"EDIT", std::to_wstring(c.busyPercent).c_str(), WS_TABSTOP | ES_NUMBER,
            WS_EX_CLIENTEDGE);
        Add(kDelayLabel, L"STATIC", L"&Delivery delay (ms):", SS_LEFT);
        Add(kDelay, L"EDIT", std::to_wstring(c.deliveryDelayMs).c_str(), WS_TABSTOP | ES_NUMBER,
            WS_EX_CLIENTEDGE);
        Add(kChatterLabel, L"STATIC", L"&Chatter every (ms, 0 none):", SS_LEFT);
        Add(kChatter, L"EDIT", std::to_wstring(c.chatterMs).c_str(), WS_TABSTOP | ES_NUMBER,
            WS_EX_CLIENTEDGE);
        Add(kApply, L"BUTTON", L"A&pply settings", WS_TABSTOP | BS_PUSHBUTTON);
        Add(kMembersLabel, L"STATIC", L"Plug-ins &joined:", SS_LEFT);
        Add(kMembers, L"LISTBOX", L"", WS_TABSTOP | WS_VSCROLL | LBS_NOINTEGRALHEIGHT | LBS_NOSEL,
            WS_EX_CLIENTEDGE);
        Add(kBufferLabel, L"STATIC", L"World b&uffer (as the host client shows it):", SS_LEFT);
        Add(kBuffer, L"EDIT", L"",
            WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL,
            WS_EX_CLIENTEDGE);
        Add(kLogLabel, L"STATIC", L"&History of calls and callbacks:", SS_LEFT);
        Add(kLog, L"EDIT", L"",
            WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL |
                ES_AUTOHSCROLL,
            WS_EX_CLIENTEDGE);
        SetTimer(window_, kRefreshTimer, kRefreshMs, nullptr);
        dirty_ = true;
        Refresh();
    }

    int TextWidth(int id) const {
        const std::wstring text = ControlText(Item(id));
        const FontDC dc(window_, font_.get());
        RECT r = {0, 0, 0, 0};
        DrawTextW(dc.Get(), text.c_str(), static_cast<int>(text.size()), &r,
                  DT_CALCRECT | DT_SINGLELINE);
        return r.right - r.left;
    }

    int LineHeight() const {
        const FontDC dc(window_, font_.get());
        TEXTMETRICW tm = {};
        GetTextMetricsW(dc.Get(), &tm);
        return tm.tmHeight;
    }

    void Place(int id, int x, int y, int w, int h) { MoveWindow(Item(id), x, y, w, h, TRUE); }

    void Layout() {
        RECT rc;
        GetClientRect(window_, &rc);
        const int m = Scale(8);
        const int text = LineHeight();
        const int row = text + Scale(10);  // an edit or button
        const int gap = Scale(6);
        // The right column: labels as wide as their longest caption.
        int labels = 0;
        for (int id :
             {kAsLabel, kModeLabel, kToLabel, kLineLabel, kBusyLabel, kDelayLabel, kChatterLabel}) {
            labels = std::max(labels, TextWidth(id));
        }
        labels += Scale(6);
        const int fields =
            std::max(Scale(170), std::max(TextWidth(kSay), TextWidth(kApply)) + Scale(24));
        const int rightW = labels + fields;
        const int rightX = rc.right - m - rightW;
        const int leftW = std::max(Scale(200), rightX - 2 * m);
        int y = m;
        const auto field = [&](int label, int control, int height) {
            Place(label, rightX, y + (row - text) / 2, labels, text);
            Place(control, rightX + labels, y, fields, height);
            y += row + gap;
        };
        field(kAsLabel, kAs, row + Scale(160));
        field(kModeLabel, kMode, row + Scale(100));
        field(kToLabel, kTo, row);
        field(kLineLabel, kLine, row);
        Place(kSay, rightX + labels, y, fields, row);
        y += row + 2 * gap;
        field(kBusyLabel, kBusy, row);
        field(kDelayLabel, kDelay, row);
        field(kChatterLabel, kChatter, row);
        Place(kApply, rightX + labels, y, fields, row);
        y += row + 2 * gap;
        Place(kMembersLabel, rightX, y, rightW, text);
        y += text + Scale(2);
        Place(kMembers, rightX, y, rightW, std::max<int>(row, rc.bottom - m - y));
        // The left column: the buffer above, the log below.
        const int height = static_cast<int>(rc.bottom) - 2 * m;
        const int bufferH = height * 3 / 5;
        int ly = m;
        Place(kBufferLabel, m, ly, leftW, text);
        ly += text + Scale(2);
        Place(kBuffer, m, ly, leftW, bufferH - text - Scale(2));
        ly += bufferH - text - Scale(2) + gap;
        Place(kLogLabel, m, ly, leftW, text);
        ly += text + Scale(2);
        Place(kLog, m, ly, leftW, std::max<int>(row, rc.bottom - m - ly));
        ShowEnd(Item(kBuffer));
        ShowEnd(Item(kLog));
    }

    static void SetTextAtEnd(HWND edit, const std::wstring& text) {
        SetWindowTextW(edit, text.c_str());
        const auto n = static_cast<WPARAM>(text.size());
        SendMessageW(edit, EM_SETSEL, n, static_cast<LPARAM>(n));
        ShowEnd(edit);
    }

    // Scrolls a pane so that its last page shows.
    static void ShowEnd(HWND edit) { SendMessageW(edit, WM_VSCROLL, SB_BOTTOM, 0); }

    void Refresh() {
        dirty_ = false;
        // A copy taken under the lock; the controls are filled after it.
        std::string buffer;
        std::vector<std::string> rows;
        std::string newLog;
        bool wholeLog = false;
        bool wholeBuffer = false;
        {
            const auto lock = server_.Lock();
            // The buffer pane too gains the new lines only, and starts afresh
            // from the world's buffer when it grew long.
            const std::vector<quib::standin::ChatLine> lines = world_.TakeHostLines();
            wholeBuffer =
                !bufferShown_ || bufferShownLines_ + lines.size() > 4 * quib::standin::kMaxLines;
            if (wholeBuffer) {
                for (const auto& l : world_.HostView().Lines()) {
                    buffer += l.line + "\r\n";
                }
                bufferShownLines_ = world_.HostView().Lines().size();
                bufferShown_ = true;
            } else {
                for (const auto& l : lines) {
                    buffer += l.line + "\r\n";
                }
                bufferShownLines_ += lines.size();
            }
            for (const auto& m : world_.Members()) {
                rows.push_back(m.plugin + " as " + m.user + ", " +
                               (m.view->IsRegistered(m.plugin) ? "registered" : "not registered") +
                               ", " + std::to_string(m.calls) + " calls, last status " +
                               (m.lastStatus.empty() ? "none" : "\"" + m.lastStatus + "\""));
            }
            // The log pane gains the new lines only; it starts afresh from
            // the kept lines when more came than are kept, or it grew long.
            const uint64_t fresh = logCount_ - logShown_;
            wholeLog = fresh > log_.size() || logShownLines_ + fresh > 4 * kLogLines;
            const size_t from = wholeLog ? 0 : log_.size() - static_cast<size_t>(fresh);
            for (size_t i = from; i < log_.size(); ++i) {
                newLog += log_[i] + "\r\n";
            }
            logShownLines_ = wholeLog ? log_.size() : logShownLines_ + static_cast<size_t>(fresh);
            logShown_ = logCount_;
        }
        AddToPane(Item(kBuffer), wholeBuffer, buffer);
        HWND members = Item(kMembers);
        SendMessageW(members, WM_SETREDRAW, FALSE, 0);
        SendMessageW(members, LB_RESETCONTENT, 0, 0);
        if (rows.empty()) {
            SendMessageW(members, LB_ADDSTRING, 0,
                         reinterpret_cast<LPARAM>(L"(none yet: start a plug-in)"));
        }
        for (const std::string& row : rows) {
            SendMessageW(members, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(row).c_str()));
        }
        SendMessageW(members, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(members, nullptr, TRUE);
        AddToPane(Item(kLog), wholeLog, newLog);
    }

    // A read-only pane takes the text as its whole, or after what it holds.
    static void AddToPane(HWND edit, bool whole, const std::string& text) {
        if (whole) {
            SetTextAtEnd(edit, Wide(text));
        } else if (!text.empty()) {
            const auto end = static_cast<WPARAM>(GetWindowTextLengthW(edit));
            SendMessageW(edit, EM_SETSEL, end, static_cast<LPARAM>(end));
            SendMessageW(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(Wide(text).c_str()));
            ShowEnd(edit);
        }
    }

    // Called on either thread.
    void AddLog(const std::string& line) {
        const auto lock = server_.Lock();
        if (logFile_) {
            std::fputs((line + "\n").c_str(), logFile_.get());
            std::fflush(logFile_.get());
        }
        log_.push_back(line);
        ++logCount_;
        while (log_.size() > kLogLines) {
            log_.pop_front();
        }
        dirty_ = true;
    }

    void Command(int id, int code) {
        if ((id == kSay || id == IDOK) && code == BN_CLICKED) {
            Say();
        } else if (id == kApply && code == BN_CLICKED) {
            const auto number = [this](int field) {
                return _wtoi(ControlText(Item(field)).c_str());
            };
            server_.Adjust(number(kBusy), number(kDelay), number(kChatter));
            const auto lock = server_.Lock();
            const auto& c = world_.Settings();
            SetWindowTextW(Item(kBusy), std::to_wstring(c.busyPercent).c_str());
            SetWindowTextW(Item(kDelay), std::to_wstring(c.deliveryDelayMs).c_str());
            SetWindowTextW(Item(kChatter), std::to_wstring(c.chatterMs).c_str());
            AddLog(quib::standin::TimeOfDay() + " ! settings: busy " +
                   std::to_string(c.busyPercent) + "%, delivery " +
                   std::to_string(c.deliveryDelayMs) + " ms, chatter " +
                   std::to_string(c.chatterMs) + " ms");
        }
    }

    void Say() {
        const int mode = static_cast<int>(SendMessageW(Item(kMode), CB_GETCURSEL, 0, 0));
        const std::string as = Narrow(ControlText(Item(kAs)));
        const std::string to = Narrow(ControlText(Item(kTo)));
        const std::string line = Narrow(ControlText(Item(kLine)));
        if (server_.Say(as, mode, to, line)) {
            SetWindowTextW(Item(kLine), L"");
        } else {
            AddLog(quib::standin::TimeOfDay() +
                   " ! not said: the speaker needs a usable name, the line some text, an ESP a "
                   "joined user to go to");
        }
        SetFocus(Item(kLine));
    }

    HINSTANCE instance_;
    HWND window_ = nullptr;
    int dpi_ = 96;
    quib::standin::OwnedFont font_;
    // The newest lines of the log, how many came in all, and how many of
    // them the pane shows and holds; under the server's lock.
    std::deque<std::string> log_;
    uint64_t logCount_ = 0;
    uint64_t logShown_ = 0;
    size_t logShownLines_ = 0;
    // Whether the buffer pane shows the world yet, and its lines.
    bool bufferShown_ = false;
    size_t bufferShownLines_ = 0;
    quib::standin::OwnedFile logFile_;
    std::atomic<bool> dirty_{false};
    HostWorld world_;
    // Last: its thread, which logs into the members above, stops first.
    HostServer server_;
};

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    SetProcessDPIAware();
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    HostWindow window(instance);
    if (!window.Start(show)) {
        return 1;
    }
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageW(window.Handle(), &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return static_cast<int>(msg.wParam);
}
