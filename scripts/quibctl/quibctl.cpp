// quibctl: drives a running QuibDemo.exe from outside, and measures how fast
// it starts.
//
//   quibctl wait-shown <ms>   wait until the window is shown and idle
//   quibctl caption           print the shown window's caption (UTF-8), by
//                             which the X server knows the window too
//   quibctl fetch <ms>        click "&Get Vell Text", wait until text shows
//   quibctl compose <line>    pick the first listed avatar, choose "ESP" and
//                             type a line, as a user addressing someone
//   quibctl send [<line>]     type the line (choosing "Speak" when no mode is
//                             chosen yet) and click "&Communicate"; fails
//                             when the button is disabled
//   quibctl close <ms>        close the window as a user does (WM_CLOSE) and
//                             wait for the program to end; exits with its code
//   quibctl end-session <ms>  end the Windows session as the system tells a
//                             window (WM_QUERYENDSESSION, then WM_ENDSESSION)
//                             and wait for the program to end, as close does
//   quibctl startup <runs>    start QuibDemo.exe and its two yardsticks,
//                             bare_controls.exe and bare_window.exe (beside
//                             this program), <runs> times each, in turn;
//                             print the median time from process start to the
//                             window shown and the working set then, the
//                             ratios of QuibDemo's to each yardstick's (for
//                             the time the median of each round's), and
//                             the size of QuibDemo.exe
//
// With the simulated host client vellhost.exe:
//   quibctl wait-host <ms>    wait until vellhost.exe's window is shown and
//                             plug-ins can join it
//   quibctl speak <line>      register, choose "Speak", type the line and send it
//   quibctl place             put vellhost.exe's window on the left of the
//                             screen and QuibDemo's beside it on the right;
//                             print the area both cover as WxH+X+Y
#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <iterator>
#include <string>
#include <vector>

#include "app/control_ids.h"
#include "platform/win32/handles.h"

namespace {

using quib::platform::UniqueKernelHandle;

std::wstring Beside(const wchar_t* file) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self);
    return path.substr(0, path.find_last_of(L"\\/") + 1) + file;
}

// The visible top-level window of a class, optionally of one process.
HWND FindShown(const wchar_t* windowClass, DWORD processId) {
    HWND w = nullptr;
    while ((w = FindWindowExW(nullptr, w, windowClass, nullptr)) != nullptr) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if ((processId == 0 || owner == processId) && IsWindowVisible(w)) {
            return w;
        }
    }
    return nullptr;
}

HWND WaitShown(const wchar_t* windowClass, DWORD processId, DWORD timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        if (HWND w = FindShown(windowClass, processId)) {
            return w;
        }
        if (GetTickCount64() >= end) {
            return nullptr;
        }
        Sleep(1);
    }
}

// Waits until the program of the window waits for input.
void WaitIdle(HWND w, DWORD timeoutMs) {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (const UniqueKernelHandle process(
            OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid));
        process) {
        WaitForInputIdle(process.Get(), timeoutMs);
    }
}

int WaitShownCommand(DWORD timeoutMs) {
    HWND w = WaitShown(QUIBDEMO_WINDOW_CLASS, 0, timeoutMs);
    if (!w) {
        std::fprintf(stderr, "quibctl: no QuibDemo window appeared\n");
        return 1;
    }
    WaitIdle(w, timeoutMs);
    return 0;
}

int CaptionCommand() {
    HWND w = FindShown(QUIBDEMO_WINDOW_CLASS, 0);
    if (!w) {
        std::fprintf(stderr, "quibctl: no QuibDemo window shown\n");
        return 1;
    }
    wchar_t caption[256] = {};
    const int length = GetWindowTextW(w, caption, 256);
    char utf8[1024] = {};
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, caption, length, utf8, sizeof(utf8), nullptr, nullptr);
    std::fwrite(utf8, 1, static_cast<size_t>(bytes), stdout);
    std::fputs("\n", stdout);
    return 0;
}

int FetchCommand(DWORD timeoutMs) {
    HWND w = WaitShown(QUIBDEMO_WINDOW_CLASS, 0, timeoutMs);
    if (!w) {
        return 1;
    }
    // Posted, not sent: the click's handler waits for the text while it
    // keeps processing the window's messages.
    PostMessageW(GetDlgItem(w, IDC_cmdGetText), BM_CLICK, 0, 0);
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (GetTickCount64() < end) {
        if (SendMessageW(GetDlgItem(w, IDC_lstAvatars), LB_GETCOUNT, 0, 0) > 0) {
            return 0;
        }
        Sleep(50);
    }
    return 1;
}

// Selections and texts reach the window as a user's would: a selection plus
// the notification the control sends for it, and WM_SETTEXT for the line.
int ComposeCommand(const wchar_t* line) {
    HWND w = FindShown(QUIBDEMO_WINDOW_CLASS, 0);
    if (!w) {
        return 1;
    }
    const auto notify = [w](int id, int code) {
        SendMessageW(w, WM_COMMAND, MAKEWPARAM(id, code),
                     reinterpret_cast<LPARAM>(GetDlgItem(w, id)));
    };
    HWND list = GetDlgItem(w, IDC_lstAvatars);
    if (SendMessageW(list, LB_GETCOUNT, 0, 0) > 0) {
        SendMessageW(list, LB_SETCURSEL, 0, 0);
        notify(IDC_lstAvatars, LBN_SELCHANGE);
    }
    SendMessageW(GetDlgItem(w, IDC_cboCommunicationMode), CB_SETCURSEL, 2, 0);
    notify(IDC_cboCommunicationMode, CBN_SELCHANGE);
    HWND text = GetDlgItem(w, IDC_txtText);
    SendMessageW(text, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(line));
    return IsWindowEnabled(GetDlgItem(w, IDC_cmdCommunicate)) ? 0 : 1;
}

// The click is sent, not posted: quibctl returns once the handler has sent
// the line (or given up), and the button's state before the click tells
// whether there was anything to send. `speak` registers first and always
// speaks; `send` keeps the mode the window has, "Speak" where it has none.
int SendCommand(const wchar_t* line, bool speak) {
    HWND w = FindShown(QUIBDEMO_WINDOW_CLASS, 0);
    if (!w) {
        std::fprintf(stderr, "quibctl: no QuibDemo window shown\n");
        return 1;
    }
    if (speak) {
        SendMessageW(GetDlgItem(w, IDC_cmdQuibRegister), BM_CLICK, 0, 0);
    }
    if (line != nullptr) {
        HWND mode = GetDlgItem(w, IDC_cboCommunicationMode);
        if (speak || SendMessageW(mode, CB_GETCURSEL, 0, 0) == CB_ERR) {
            SendMessageW(mode, CB_SETCURSEL, 0, 0);
            SendMessageW(w, WM_COMMAND, MAKEWPARAM(IDC_cboCommunicationMode, CBN_SELCHANGE),
                         reinterpret_cast<LPARAM>(mode));
        }
        SendMessageW(GetDlgItem(w, IDC_txtText), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(line));
    }
    HWND button = GetDlgItem(w, IDC_cmdCommunicate);
    if (!IsWindowEnabled(button)) {
        std::fprintf(stderr, "quibctl: \"&Communicate\" is disabled\n");
        return 1;
    }
    DWORD_PTR ignored = 0;
    if (!SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 60000, &ignored)) {
        std::fprintf(stderr, "quibctl: the click on \"&Communicate\" was not handled\n");
        return 1;
    }
    return 0;
}

// Finds the window, does to it what end does (false: the program would not
// end), and waits for the program to end; exits with its code.
template <typename End>
int EndProgram(DWORD timeoutMs, End end) {
    HWND w = FindWindowW(QUIBDEMO_WINDOW_CLASS, nullptr);
    if (!w) {
        std::fprintf(stderr, "quibctl: no QuibDemo window\n");
        return 1;
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    const UniqueKernelHandle process(
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid));
    if (!end(w)) {
        return 1;
    }
    if (!process) {
        return 0;
    }
    DWORD code = 1;
    if (WaitForSingleObject(process.Get(), timeoutMs) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.Get(), &code);
    } else {
        std::fprintf(stderr, "quibctl: QuibDemo did not end\n");
    }
    return static_cast<int>(code);
}

int CloseCommand(DWORD timeoutMs) {
    return EndProgram(timeoutMs, [](HWND w) { return PostMessageW(w, WM_CLOSE, 0, 0) != FALSE; });
}

// The end of a Windows session as the system tells it to a window: asked with
// WM_QUERYENDSESSION, then told with WM_ENDSESSION. After that the system ends
// the process without a further message, so the program must be done by then.
int EndSessionCommand(DWORD timeoutMs) {
    return EndProgram(timeoutMs, [timeoutMs](HWND w) {
        DWORD_PTR agreed = 0;
        if (!SendMessageTimeoutW(w, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG,
                                 timeoutMs, &agreed) ||
            !agreed) {
            std::fprintf(stderr, "quibctl: QuibDemo held up the end of the session\n");
            return false;
        }
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(w, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, timeoutMs,
                            &ignored);
        return true;
    });
}

struct Sample {
    double startMs = 0;
    double workingSetKiB = 0;
};

bool MeasureOnce(const std::wstring& exe, const wchar_t* windowClass, Sample& out) {
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    std::wstring commandLine = L"\"" + exe + L"\"";
    LARGE_INTEGER frequency, t0, t1;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&t0);
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &si, &pi)) {
        std::fwprintf(stderr, L"quibctl: can't start %ls (%lu)\n", exe.c_str(), GetLastError());
        return false;
    }
    const UniqueKernelHandle process(pi.hProcess);
    const UniqueKernelHandle thread(pi.hThread);
    HWND w = WaitShown(windowClass, pi.dwProcessId, 30000);
    QueryPerformanceCounter(&t1);
    bool ok = w != nullptr;
    if (ok) {
        out.startMs = 1000.0 * static_cast<double>(t1.QuadPart - t0.QuadPart) /
                      static_cast<double>(frequency.QuadPart);
        // The working set once the program has settled after showing.
        WaitForInputIdle(process.Get(), 5000);
        PROCESS_MEMORY_COUNTERS counters = {};
        counters.cb = sizeof(counters);
        GetProcessMemoryInfo(process.Get(), &counters, sizeof(counters));
        out.workingSetKiB = static_cast<double>(counters.WorkingSetSize) / 1024.0;
        PostMessageW(w, WM_CLOSE, 0, 0);
    }
    if (WaitForSingleObject(process.Get(), 10000) != WAIT_OBJECT_0) {
        TerminateProcess(process.Get(), 1);
        ok = false;
    }
    return ok;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// A program that startup measures, with its samples.
struct Measured {
    const char* name;
    std::wstring exe;
    const wchar_t* windowClass;
    std::vector<double> ms, kib;
};

int StartupCommand(int runs) {
    Measured programs[] = {
        {"QuibDemo.exe", Beside(L"QuibDemo.exe"), QUIBDEMO_WINDOW_CLASS, {}, {}},
        {"bare window with the same controls",
         Beside(L"bare_controls.exe"),
         L"QuibBench.BareControls",
         {},
         {}},
        {"empty bare window", Beside(L"bare_window.exe"), L"QuibBench.BareWindow", {}, {}},
    };
    // One untimed start of each first: Wine's first start of a program loads
    // and caches far more than later ones.
    Sample s;
    for (const Measured& p : programs) {
        if (!MeasureOnce(p.exe, p.windowClass, s)) {
            return 1;
        }
    }
    for (int i = 0; i < runs; ++i) {
        for (Measured& p : programs) {
            if (!MeasureOnce(p.exe, p.windowClass, s)) {
                return 1;
            }
            p.ms.push_back(s.startMs);
            p.kib.push_back(s.workingSetKiB);
        }
    }
    WIN32_FILE_ATTRIBUTE_DATA attributes = {};
    GetFileAttributesExW(programs[0].exe.c_str(), GetFileExInfoStandard, &attributes);

    const double demoKiB = Median(programs[0].kib);
    for (const Measured& p : programs) {
        std::printf("| Start-up to window shown, %s (median of %d) | %.1f ms |\n", p.name, runs,
                    Median(p.ms));
    }
    for (const Measured& p : programs) {
        std::printf("| Working set when shown, %s | %.0f KiB |\n", p.name, Median(p.kib));
    }
    // The start-up ratio is the median of each round's: the three starts of a
    // round follow each other closely, so a load that changes over the run
    // moves all three of them alike.
    for (size_t i = 1; i < std::size(programs); ++i) {
        std::vector<double> ratios;
        for (size_t round = 0; round < programs[i].ms.size(); ++round) {
            if (programs[i].ms[round] > 0) {
                ratios.push_back(programs[0].ms[round] / programs[i].ms[round]);
            }
        }
        const double kib = Median(programs[i].kib);
        std::printf("| Start-up ratio QuibDemo / %s (median of the rounds') | %.2f |\n",
                    programs[i].name, ratios.empty() ? 0.0 : Median(ratios));
        std::printf("| Working set ratio QuibDemo / %s | %.2f |\n", programs[i].name,
                    kib > 0 ? demoKiB / kib : 0.0);
    }
    std::printf("| Size of QuibDemo.exe | %lu bytes |\n", attributes.nFileSizeLow);
    return 0;
}

// --- The simulated host client vellhost.exe beside QuibDemo ---

constexpr wchar_t kHostWindowClass[] = L"VellHost.Window";
constexpr wchar_t kHostWireClass[] = L"VellHost.Wire";

int WaitHostCommand(DWORD timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    HWND shown = nullptr;
    while (!(shown = FindShown(kHostWindowClass, 0)) || !FindWindowW(kHostWireClass, nullptr)) {
        if (GetTickCount64() >= end) {
            std::fprintf(stderr, "quibctl: no vellhost.exe window appeared\n");
            return 1;
        }
        Sleep(10);
    }
    WaitIdle(shown, timeoutMs);
    return 0;
}

int PlaceCommand() {
    HWND host = FindShown(kHostWindowClass, 0);
    HWND demo = FindShown(QUIBDEMO_WINDOW_CLASS, 0);
    if (!host || !demo) {
        std::fprintf(stderr, "quibctl: both windows must be shown\n");
        return 1;
    }
    RECT d = {};
    GetWindowRect(demo, &d);
    const int screenW = GetSystemMetrics(SM_CXSCREEN);
    const int demoW = d.right - d.left;
    const int demoH = d.bottom - d.top;
    const int hostW = std::max(400, screenW - demoW);
    const int height = std::max(demoH, std::min(GetSystemMetrics(SM_CYSCREEN), demoH * 5 / 4));
    SetWindowPos(host, nullptr, 0, 0, hostW, height, SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(demo, nullptr, hostW, 0, 0, 0, SWP_NOZORDER | SWP_NOSIZE);
    std::printf("%dx%d+0+0\n", hostW + demoW, height);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(
            stderr,
            "usage: quibctl wait-shown|fetch|close|end-session <ms> | caption | compose <line> | "
            "send [<line>] | speak <line> | startup <runs> | wait-host <ms> | place\n");
        return 2;
    }
    const std::wstring command = argv[1];
    const long value = argc > 2 ? std::wcstol(argv[2], nullptr, 10) : 0;
    if (command == L"wait-shown") {
        return WaitShownCommand(value > 0 ? static_cast<DWORD>(value) : 30000);
    }
    if (command == L"caption") {
        return CaptionCommand();
    }
    if (command == L"fetch") {
        return FetchCommand(value > 0 ? static_cast<DWORD>(value) : 20000);
    }
    if (command == L"compose") {
        return ComposeCommand(argc > 2 ? argv[2] : L"Hello!");
    }
    if (command == L"send") {
        return SendCommand(argc > 2 ? argv[2] : nullptr, false);
    }
    if (command == L"close") {
        return CloseCommand(value > 0 ? static_cast<DWORD>(value) : 10000);
    }
    if (command == L"end-session") {
        return EndSessionCommand(value > 0 ? static_cast<DWORD>(value) : 10000);
    }
    if (command == L"startup") {
        return StartupCommand(value > 0 ? static_cast<int>(value) : 10);
    }
    if (command == L"wait-host") {
        return WaitHostCommand(value > 0 ? static_cast<DWORD>(value) : 30000);
    }
    if (command == L"speak") {
        return SendCommand(argc > 2 ? argv[2] : L"Hello!", true);
    }
    if (command == L"place") {
        return PlaceCommand();
    }
    std::fprintf(stderr, "quibctl: unknown command\n");
    return 2;
}
