// The whole fetch of a text buffer, from the click on "&Get Vell Text" to the
// filled avatar list, against a bare edit control taking the same text in the
// same run; and the CPU time a window uses while a fetch waits.
//
// Runs the real window with an in-process host that delivers a generated
// buffer (1,000 speakers, code page 1252 with non-ASCII names, framed like a
// host's buffer) during the request.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "app/avatar_listbox.h"
#include "app/control_ids.h"
#include "app/frmDemo.h"
#include "app/visible_text.h"
#include "bridge/modQUIB.h"
#include "platform/codepage.h"

namespace {

using Clock = std::chrono::steady_clock;
using quib::frmDemo;
using quib::frmDemoOptions;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// --- The host -------------------------------------------------------------------

struct BenchHost {
    QuibStatusCallback onStatus = nullptr;
    QuibTextCallback onText = nullptr;
    std::string buffer;   // what the next QuibGetAllText delivers
    bool deliver = true;  // false: the request is answered, no text follows
};
BenchHost gHost;

int16_t VELLQUIB_CALL HostInitDDE(const char*, QuibStatusCallback s, QuibMessageCallback,
                                  QuibTextCallback t) {
    gHost.onStatus = s;
    gHost.onText = t;
    return 0;
}
int32_t VELLQUIB_CALL HostNoArgs() {
    return 0;
}
int32_t VELLQUIB_CALL HostPlugin(const char*) {
    return 0;
}
int32_t VELLQUIB_CALL HostCommunicate(const char*, int16_t, char*, char*) {
    gHost.onStatus("0", 1);
    return 0;
}
int32_t VELLQUIB_CALL HostGetAllText(const char*) {
    gHost.onStatus("0", 1);
    if (gHost.deliver) {
        gHost.onText(gHost.buffer.data(), static_cast<int32_t>(gHost.buffer.size()));
    }
    return 0;
}

quib::modQUIB::HostTable Table() {
    quib::modQUIB::HostTable t;
    t.InitDDE = &HostInitDDE;
    t.KillDDE = &HostNoArgs;
    t.QuibRegister = &HostPlugin;
    t.QuibUnregister = &HostPlugin;
    t.QuibCommunicate = &HostCommunicate;
    t.QuibGetAllText = &HostGetAllText;
    return t;
}

// --- The buffer -------------------------------------------------------------------

constexpr int kSpeakers = 1000;

std::string SpeakerName(int i) {
    // Every fourth name carries letters beyond ASCII (code page 1252).
    char name[32];
    std::snprintf(name, sizeof name, i % 4 == 0 ? "Zo\xEB_%04d" : "Avatar_%04d", i);
    return name;
}

// Lines of chat by the speakers in turn, with ESP lines and system lines
// mixed in, until the text reaches `bytes`; then the host's frame.
std::string Generate(size_t bytes) {
    std::string text;
    text.reserve(bytes + 64);
    unsigned seed = 12345;
    for (int line = 0; text.size() < bytes; ++line) {
        seed = seed * 1103515245u + 12345u;
        const int who = line < kSpeakers ? line : static_cast<int>((seed >> 8) % kSpeakers);
        switch (line % 10) {
            case 3:
                text += "ESP to " + SpeakerName(who) + ": are you there?";
                break;
            case 7:
                text += "<system>: " + SpeakerName(who) + " has entered the room";
                break;
            default:
                text += SpeakerName(who) + ": hello everyone, nice weather in the world today";
        }
        text += "\r\n";
    }
    text += "\r\n####";
    text += '\0';
    return text;
}

// --- Measurements -------------------------------------------------------------------

double ProcessCpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto value = [](FILETIME f) {
        return static_cast<double>((static_cast<uint64_t>(f.dwHighDateTime) << 32) |
                                   f.dwLowDateTime) /
               1e7;
    };
    return value(kernel) + value(user);
}

// An edit control made like txtVellText, beside it, taking the same text.
double BareEditSeconds(HWND like, const std::u16string& shown) {
    RECT r;
    GetWindowRect(like, &r);
    MapWindowPoints(nullptr, GetParent(like), reinterpret_cast<POINT*>(&r), 2);
    HWND edit = CreateWindowExW(static_cast<DWORD>(GetWindowLongW(like, GWL_EXSTYLE)), L"EDIT", L"",
                                static_cast<DWORD>(GetWindowLongW(like, GWL_STYLE)), r.left, r.top,
                                r.right - r.left, r.bottom - r.top, GetParent(like), nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    SendMessageW(edit, WM_SETFONT, SendMessageW(like, WM_GETFONT, 0, 0), FALSE);
    SendMessageW(edit, EM_SETLIMITTEXT, 0, 0);
    const Clock::time_point start = Clock::now();
    SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(shown.c_str()));
    const double seconds = Seconds(Clock::now() - start);
    const LRESULT length = SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0);
    DestroyWindow(edit);
    if (static_cast<size_t>(length) != shown.size()) {
        std::fprintf(stderr, "bare edit control holds %ld of %zu characters\n",
                     static_cast<long>(length), shown.size());
        std::exit(2);
    }
    return seconds;
}

// A list box made like lstAvatars, filled with the same names the same way.
double BareListSeconds(HWND like, const std::vector<std::u16string>& names) {
    HWND list = CreateWindowExW(static_cast<DWORD>(GetWindowLongW(like, GWL_EXSTYLE)), L"LISTBOX",
                                L"", static_cast<DWORD>(GetWindowLongW(like, GWL_STYLE)), 0, 0, 100,
                                100, GetParent(like), nullptr, GetModuleHandleW(nullptr), nullptr);
    const Clock::time_point start = Clock::now();
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    for (const auto& n : names) {
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(n.c_str()));
    }
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    const double seconds = Seconds(Clock::now() - start);
    DestroyWindow(list);
    return seconds;
}

void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

void ClickGetText(frmDemo& window) {
    SendMessageW(window.Handle(), WM_COMMAND, MAKEWPARAM(IDC_cmdGetText, BN_CLICKED),
                 reinterpret_cast<LPARAM>(window.cmdGetText));
}

// Runs the bare edit control and the whole fetch in turn, `rounds` times,
// with the bare control before and after each fetch, and reports the median
// round.
void MeasureFetch(frmDemo& window, size_t bytes, const char* label, int rounds) {
    gHost.deliver = true;
    gHost.buffer = Generate(bytes);
    // What the window will show: decoded, trimmed, NULs made visible.
    std::u16string text = quib::platform::DecodeSystemCodePage(gHost.buffer);
    quib::modQUIB::TrimTextBuffer(text);
    const std::u16string shown = quib::app::VisibleText(text);
    std::vector<std::u16string> names;
    for (int i = 0; i < kSpeakers; ++i) {
        names.push_back(quib::platform::DecodeSystemCodePage(SpeakerName(i)));
    }

    struct Round {
        double whole, bare;
        frmDemo::FetchTimings t;
    };
    std::vector<Round> results;
    for (int round = 0; round < rounds; ++round) {
        Pump();
        const double bareBefore = BareEditSeconds(window.txtVellText, shown);
        Pump();
        const Clock::time_point start = Clock::now();
        ClickGetText(window);
        const double whole = Seconds(Clock::now() - start);
        const frmDemo::FetchTimings t = window.LastFetchTimings();
        Pump();
        const LRESULT shownLength = SendMessageW(window.txtVellText, WM_GETTEXTLENGTH, 0, 0);
        const LRESULT listed = SendMessageW(window.lstAvatars, LB_GETCOUNT, 0, 0);
        if (static_cast<size_t>(shownLength) != shown.size() || listed != kSpeakers) {
            std::fprintf(stderr, "%s: shown %ld of %zu characters, listed %ld of %d avatars\n",
                         label, static_cast<long>(shownLength), shown.size(),
                         static_cast<long>(listed), kSpeakers);
            std::exit(2);
        }
        const double bareAfter = BareEditSeconds(window.txtVellText, shown);
        // Every round on standard error; the table takes the median.
        std::fprintf(stderr,
                     "%s round %d: whole %.3f s, request %.4f s, NULs %.4f s, edit control "
                     "%.3f s, list %.4f s\n",
                     label, round + 1, whole, t.requestSeconds, t.visibleSeconds, t.editSeconds,
                     t.listSeconds);
        results.push_back({whole, (bareBefore + bareAfter) / 2, t});
    }
    // The program's own share: everything but the edit control taking the text.
    // The first fetch decodes into memory the process has not touched yet,
    // whose pages the system first has to provide; later fetches reuse it.
    auto ownShare = [](const Round& x) { return x.whole - x.t.editSeconds; };
    const double ownFirst = ownShare(results.front());
    std::vector<double> repeats;
    for (size_t i = 1; i < results.size(); ++i) {
        repeats.push_back(ownShare(results[i]));
    }
    std::sort(repeats.begin(), repeats.end());
    const double own = repeats.empty() ? ownFirst : repeats[(repeats.size() - 1) / 2];
    std::sort(results.begin(), results.end(),
              [](const Round& a, const Round& b) { return a.whole / a.bare < b.whole / b.bare; });
    const Round& r = results[results.size() / 2];
    const double bareList = BareListSeconds(window.lstAvatars, names);
    std::printf(
        "| Fetch of %s (%zu bytes, %d speakers), click to filled list, median of %d | %.2f s; "
        "txtVellText taking the text %.2f s (%.1f%%), lstAvatars filled with the scan %.3f s "
        "(%.1f%%), request with decode and trim %.3f s, NULs made visible %.3f s; own share "
        "%.3f s (median of the fetches after the first; the first: %.3f s); bare edit control "
        "%.2f s; ratio whole/bare %.3f, (bare + own)/bare %.3f |\n",
        label, gHost.buffer.size(), kSpeakers, rounds, r.whole, r.t.editSeconds,
        100.0 * r.t.editSeconds / r.whole, r.t.listSeconds, 100.0 * r.t.listSeconds / r.whole,
        r.t.requestSeconds, r.t.visibleSeconds, own, ownFirst, r.bare, r.whole / r.bare,
        (r.bare + own) / r.bare);
    std::printf("| Bare list box taking the %d names (redraw off) | %.4f s |\n", kSpeakers,
                bareList);
    std::fflush(stdout);
}

// The CPU time Linux accounts to the Wine process (utime + stime of
// /proc/self/stat, reached through Wine's Z: drive); negative when unreadable.
double LinuxCpuSeconds() {
    std::ifstream stat("Z:\\proc\\self\\stat", std::ios::binary);
    if (!stat) {
        return -1;
    }
    char line[1024] = {};
    stat.read(line, sizeof line - 1);
    line[stat.gcount()] = '\0';
    // Fields after the command name, which ends with the last ')'.
    const char* p = std::strrchr(line, ')');
    if (!p) {
        return -1;
    }
    unsigned long long utime = 0, stime = 0;
    // state ppid pgrp session tty tpgid flags minflt cminflt majflt cmajflt utime stime
    if (std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime,
                    &stime) != 2) {
        return -1;
    }
    return static_cast<double>(utime + stime) / 100.0;  // USER_HZ
}

void MeasureWaitCpu(frmDemo& window) {
    gHost.deliver = false;
    Pump();
    const double cpuBefore = ProcessCpuSeconds();
    const double linuxBefore = LinuxCpuSeconds();
    const Clock::time_point start = Clock::now();
    ClickGetText(window);  // waits until the time-out
    const double elapsed = Seconds(Clock::now() - start);
    // Clamped: the counters tick in 10 ms steps and may be read across a tick.
    const double cpu = std::max(0.0, ProcessCpuSeconds() - cpuBefore);
    const double linuxCpu = std::max(0.0, LinuxCpuSeconds() - linuxBefore);
    std::printf(
        "| CPU time of the process during a %.1f s wait | %.3f s (%.2f%% of one core); as Linux "
        "counts it: %.2f s (%.2f%%) |\n",
        elapsed, cpu, 100.0 * cpu / elapsed, linuxCpu, 100.0 * linuxCpu / elapsed);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    bool large = true;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--small") {
            large = false;
        }
    }
    frmDemoOptions options;
    options.host = Table();
    options.reportFatal = [](const quib::NumberedError& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        std::exit(1);
    };
    int notices = 0;
    options.reportNotice = [&notices](const std::u16string&) { ++notices; };
    options.textWaitTimeout = std::chrono::milliseconds(5000);
    frmDemo window(options);
    if (!window.Start(SW_SHOWNORMAL)) {
        return 1;
    }
    Pump();

    std::printf("| What | Figure |\n| --- | --- |\n");
    MeasureFetch(window, 1u << 20, "1 MiB", 5);
    if (large) {
        MeasureFetch(window, 16u << 20, "16 MiB", 4);
    }
    MeasureWaitCpu(window);
    if (notices != 1) {
        std::fprintf(stderr, "expected one notice for the timed-out wait, got %d\n", notices);
        return 2;
    }
    DestroyWindow(window.Handle());
    Pump();
    return 0;
}
