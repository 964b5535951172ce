#include "tests/e2e/demo_driver.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "app/control_ids.h"

namespace quib::e2e {

namespace {

// How long one message may take before the program counts as hung.
constexpr UINT kAnswerMs = 5000;

struct FindState {
    DWORD pid;
    const wchar_t* className;
    bool visibleOnly;
    HWND found;
};

BOOL CALLBACK FindTopLevel(HWND hwnd, LPARAM param) {
    auto* s = reinterpret_cast<FindState*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != s->pid || (s->visibleOnly && !IsWindowVisible(hwnd))) {
        return TRUE;
    }
    wchar_t cls[64] = {};
    GetClassNameW(hwnd, cls, 64);
    if (lstrcmpW(cls, s->className) == 0) {
        s->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

struct ChildSearch {
    int id;
    HWND found;
};

BOOL CALLBACK FindChild(HWND hwnd, LPARAM param) {
    auto* s = reinterpret_cast<ChildSearch*>(param);
    if (GetDlgCtrlID(hwnd) == s->id) {
        s->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK CollectTexts(HWND hwnd, LPARAM param) {
    auto* texts = reinterpret_cast<std::wstring*>(param);
    wchar_t buf[1024] = {};
    DWORD_PTR n = 0;
    if (SendMessageTimeoutW(hwnd, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buf), SMTO_BLOCK,
                            kAnswerMs, &n) &&
        n > 0) {
        *texts += L" | ";
        *texts += buf;
    }
    return TRUE;
}

BOOL CALLBACK FirstButton(HWND hwnd, LPARAM param) {
    wchar_t cls[32] = {};
    GetClassNameW(hwnd, cls, 32);
    if (lstrcmpiW(cls, L"Button") == 0) {
        *reinterpret_cast<HWND*>(param) = hwnd;
        return FALSE;
    }
    return TRUE;
}

std::optional<std::wstring> GetEnv(const std::wstring& name) {
    const DWORD n = GetEnvironmentVariableW(name.c_str(), nullptr, 0);
    if (n == 0) {
        return std::nullopt;
    }
    std::wstring value(n, L'\0');
    value.resize(GetEnvironmentVariableW(name.c_str(), value.data(), n));
    return value;
}

}  // namespace

DemoDriver::DemoDriver(std::map<std::wstring, std::wstring> environment)
    : environment_(std::move(environment)) {}

DemoDriver::~DemoDriver() {
    if (Running()) {
        Kill();
    }
}

std::wstring DemoDriver::OwnFolder() {
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

bool DemoDriver::Start(bool waitForWindow) {
    const std::wstring exe = OwnFolder() + L"QuibDemo.exe";
    if (GetFileAttributesW(exe.c_str()) == INVALID_FILE_ATTRIBUTES) {
        Fail(L"QuibDemo.exe is not beside the test program");
        return false;
    }
    // The program inherits the test's environment; set the chosen variables
    // for the start only.
    std::map<std::wstring, std::optional<std::wstring>> saved;
    for (const auto& [name, value] : environment_) {
        saved[name] = GetEnv(name);
        SetEnvironmentVariableW(name.c_str(), value.c_str());
    }
    std::wstring commandLine = L"\"" + exe + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    const BOOL ok = CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                                   nullptr, OwnFolder().c_str(), &si, &process_);
    for (const auto& [name, value] : saved) {
        SetEnvironmentVariableW(name.c_str(), value ? value->c_str() : nullptr);
    }
    if (!ok) {
        process_ = {};
        Fail(L"CreateProcess failed: " + std::to_wstring(GetLastError()));
        return false;
    }
    processHandle_.Reset(process_.hProcess);
    threadHandle_.Reset(process_.hThread);
    if (!waitForWindow) {
        return true;
    }
    // The first start of a Wine prefix is slow.
    if (!WaitFor([&] { return (window_ = FindMainWindow()) != nullptr; }, 30000,
                 L"the main window to appear")) {
        return false;
    }
    WaitForInputIdle(process_.hProcess, 5000);
    return true;
}

HWND DemoDriver::FindMainWindow() const {
    FindState s{process_.dwProcessId, QUIBDEMO_WINDOW_CLASS, true, nullptr};
    EnumWindows(&FindTopLevel, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

HWND DemoDriver::FindMessageBox() const {
    FindState s{process_.dwProcessId, L"#32770", true, nullptr};
    EnumWindows(&FindTopLevel, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

HWND DemoDriver::Control(int id) const {
    ChildSearch s{id, nullptr};
    if (window_) {
        EnumChildWindows(window_, &FindChild, reinterpret_cast<LPARAM>(&s));
    }
    return s.found;
}

bool DemoDriver::Running() const {
    return process_.hProcess && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

void DemoDriver::Kill() {
    TerminateProcess(process_.hProcess, 99);
    WaitForSingleObject(process_.hProcess, 5000);
}

void DemoDriver::Fail(const std::wstring& what) {
    if (!failure_.empty()) {
        failure_ += L"; ";
    }
    failure_ += what;
}

LRESULT DemoDriver::Send(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    if (!hwnd) {
        Fail(L"a control was not found (message " + std::to_wstring(msg) + L")");
        return 0;
    }
    if (!SendMessageTimeoutW(hwnd, msg, wParam, lParam, SMTO_BLOCK | SMTO_ABORTIFHUNG, kAnswerMs,
                             &result)) {
        if (Running()) {
            Fail(L"QuibDemo did not answer message " + std::to_wstring(msg) +
                 L" in time and was killed");
            Kill();
        } else {
            Fail(L"QuibDemo ended unexpectedly");
        }
        return 0;
    }
    return static_cast<LRESULT>(result);
}

std::wstring DemoDriver::Text(int id) {
    const HWND hwnd = Control(id);
    const auto length = static_cast<size_t>(Send(hwnd, WM_GETTEXTLENGTH, 0, 0));
    std::wstring text(length + 1, L'\0');
    const auto got = static_cast<size_t>(
        Send(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data())));
    text.resize(std::min(got, length));
    return text;
}

bool DemoDriver::Enabled(int id) {
    const HWND hwnd = Control(id);
    return hwnd && IsWindowEnabled(hwnd);
}

int DemoDriver::ComboSelection(int id) {
    return static_cast<int>(Send(Control(id), CB_GETCURSEL, 0, 0));
}

std::vector<std::wstring> DemoDriver::ListItems(int id) {
    const HWND hwnd = Control(id);
    std::vector<std::wstring> items;
    const auto count = static_cast<int>(Send(hwnd, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count && Running(); ++i) {
        const auto length = static_cast<int>(Send(hwnd, LB_GETTEXTLEN, i, 0));
        if (length < 0) {
            Fail(L"LB_GETTEXTLEN failed");
            break;
        }
        std::wstring item(static_cast<size_t>(length) + 1, L'\0');
        const auto got =
            static_cast<int>(Send(hwnd, LB_GETTEXT, i, reinterpret_cast<LPARAM>(item.data())));
        item.resize(static_cast<size_t>(std::max(0, std::min(got, length))));
        items.push_back(item);
    }
    return items;
}

void DemoDriver::Focus(int id) {
    const HWND hwnd = Control(id);
    if (!hwnd) {
        Fail(L"no control to focus");
        return;
    }
    // SetFocus works for a window of another thread only while the two
    // threads share their input state.
    const DWORD them = GetWindowThreadProcessId(hwnd, nullptr);
    const DWORD us = GetCurrentThreadId();
    SetForegroundWindow(window_);
    if (AttachThreadInput(us, them, TRUE)) {
        SetFocus(hwnd);
        AttachThreadInput(us, them, FALSE);
    }
}

void DemoDriver::Type(int id, const std::wstring& text) {
    Focus(id);
    const HWND hwnd = Control(id);
    for (wchar_t c : text) {
        Send(hwnd, WM_CHAR, c, 1);
    }
}

void DemoDriver::Clear(int id) {
    Focus(id);
    const HWND hwnd = Control(id);
    Send(hwnd, EM_SETSEL, 0, -1);
    Send(hwnd, WM_CHAR, VK_BACK, 1);
}

void DemoDriver::Key(int id, WORD vk) {
    Focus(id);
    const HWND hwnd = Control(id);
    const UINT scan = MapVirtualKeyW(vk, MAPVK_VK_TO_VSC);
    Send(hwnd, WM_KEYDOWN, vk, 1 | (static_cast<LPARAM>(scan) << 16));
    Send(hwnd, WM_KEYUP, vk, 1 | (static_cast<LPARAM>(scan) << 16) | (3u << 30));
}

void DemoDriver::Click(int id) {
    const HWND hwnd = Control(id);
    if (!hwnd || !PostMessageW(hwnd, BM_CLICK, 0, 0)) {
        Fail(L"could not click control " + std::to_wstring(id));
    }
}

void DemoDriver::ClickListItem(int id, int index) {
    const HWND hwnd = Control(id);
    const auto top = static_cast<int>(Send(hwnd, LB_GETTOPINDEX, 0, 0));
    const auto height = static_cast<int>(Send(hwnd, LB_GETITEMHEIGHT, 0, 0));
    if (height <= 0 || index < top) {
        Fail(L"list entry " + std::to_wstring(index) + L" cannot be clicked");
        return;
    }
    const LPARAM at = MAKELPARAM(8, (index - top) * height + height / 2);
    PostMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(hwnd, WM_LBUTTONUP, 0, at);
}

bool DemoDriver::WaitFor(const std::function<bool()>& pred, DWORD ms, const std::wstring& what) {
    if (Poll(pred, ms)) {
        return true;
    }
    if (Running() && MessageBoxText().empty()) {
        Fail(L"timed out waiting for " + what);
    }
    return false;
}

bool DemoDriver::Poll(const std::function<bool()>& pred, DWORD ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (pred()) {
            return true;
        }
        if (const std::wstring box = MessageBoxText(); !box.empty()) {
            // The box may have come up just after the test above: a wait for
            // the box itself is then met, not failed.
            if (pred()) {
                return true;
            }
            Fail(L"QuibDemo showed a message box: " + box);
            return false;
        }
        if (!Running()) {
            Fail(L"QuibDemo ended");
            return false;
        }
        if (GetTickCount() - start > ms) {
            return false;
        }
        Sleep(20);
    }
}

bool DemoDriver::WaitForExit(DWORD ms, DWORD* code) {
    if (!process_.hProcess) {
        return false;
    }
    if (WaitForSingleObject(process_.hProcess, ms) != WAIT_OBJECT_0) {
        Fail(L"QuibDemo did not end in time and was killed");
        Kill();
        return false;
    }
    GetExitCodeProcess(process_.hProcess, code);
    return true;
}

std::wstring DemoDriver::MessageBoxText() {
    if (!process_.hProcess) {
        return std::wstring();
    }
    const HWND box = FindMessageBox();
    if (!box) {
        return std::wstring();
    }
    wchar_t title[256] = {};
    GetWindowTextW(box, title, 256);
    std::wstring texts = title;
    EnumChildWindows(box, &CollectTexts, reinterpret_cast<LPARAM>(&texts));
    return texts;
}

bool DemoDriver::DismissMessageBox() {
    const HWND box = FindMessageBox();
    HWND button = nullptr;
    if (box) {
        EnumChildWindows(box, &FirstButton, reinterpret_cast<LPARAM>(&button));
    }
    return button && PostMessageW(button, BM_CLICK, 0, 0);
}

}  // namespace quib::e2e
