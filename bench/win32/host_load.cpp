// host_load: plug-ins against vellhost.exe, the simulated host client, across
// processes (bench/win32/host_bench.sh runs it).
//
//   host_load latency <calls>
//       in this process: QuibCommunicate "Speak" <calls> times joined to the
//       running vellhost.exe, then as many against the stand-in's own world;
//       prints the median, 99th percentile and worst of each, in ms
//   host_load drive <plug-ins> <lines/s> <seconds> [kill-after-s]
//       starts <plug-ins> processes of itself (plugin mode) joined to the
//       running host, lets them go at once, and sums up what they report:
//       lines sent, lost, duplicated, out of order, the longest time a
//       plug-in's message loop stood still, the longest request, and the
//       memory of the host and of the plug-ins after the first quarter and
//       at the end. With kill-after-s the host is killed that many seconds in
//       (with "hang" after it: its thread stops instead, as a hung host's).
//   host_load plugin <user> <lines/s> <seconds> <result file>
//       one plug-in: joins as <user>, sends <lines/s> lines a second and
//       fetches the text every second while its message loop runs, and keeps
//       listening three seconds after the end.
//
// The world is meant calm (VELLQUIB_BUSY_PERCENT=0, VELLQUIB_CHATTER_MS=0 for
// vellhost.exe); busy answers are repeated like any plug-in should.
#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "owned_win32.h"
#include "vellquib.h"

namespace {

constexpr wchar_t kGoEvent[] = L"HostLoad.Go";
constexpr DWORD kListenAfterMs = 3000;

double Ms() {
    static const LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

// The memory a process has committed for itself (Wine counts PagefileUsage
// where Windows also has PrivateUsage), in KiB.
double PrivateKiB(HANDLE process) {
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof pmc;
    GetProcessMemoryInfo(process, &pmc, sizeof pmc);
    return static_cast<double>(pmc.PagefileUsage) / 1024.0;
}

using Handle = quib::standin::OwnedHandle;

template <typename Proc>
Proc Exported(HMODULE library, const char* name) {
    return reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

struct Library {
    HMODULE module = nullptr;
    InitDDEProc init = nullptr;
    KillDDEProc kill = nullptr;
    QuibRegisterProc reg = nullptr;
    QuibCommunicateProc say = nullptr;
    QuibGetAllTextProc fetch = nullptr;

    bool Load() {
        wchar_t self[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring path(self);
        path = path.substr(0, path.find_last_of(L"\\/") + 1) + L"vellquib.dll";
        module = LoadLibraryW(path.c_str());
        if (!module) {
            return false;
        }
        init = Exported<InitDDEProc>(module, "InitDDE");
        kill = Exported<KillDDEProc>(module, "KillDDE");
        reg = Exported<QuibRegisterProc>(module, "QuibRegister");
        say = Exported<QuibCommunicateProc>(module, "QuibCommunicate");
        fetch = Exported<QuibGetAllTextProc>(module, "QuibGetAllText");
        return init && kill && reg && say && fetch;
    }
};

// --- What one plug-in receives ---
std::string gStatus;
bool gStatusCame = false;
std::string gText;
bool gTextCame = false;
// The load lines of every user, in the order their callbacks came.
std::vector<std::pair<std::string, long>> gReceived;
std::string gUser;

void VELLQUIB_CALL OnStatus(const char* s, int32_t n) {
    gStatus.assign(s, static_cast<size_t>(n));
    gStatusCame = true;
}
void VELLQUIB_CALL OnMessage(const char* speaker, int32_t n, int16_t, const char* said, int32_t m) {
    const std::string text(said, static_cast<size_t>(m));
    if (text.rfind("load ", 0) == 0) {
        gReceived.emplace_back(std::string(speaker, static_cast<size_t>(n)),
                               std::atol(text.c_str() + 5));
    }
}
void VELLQUIB_CALL OnText(const char* buffer, int32_t n) {
    gText.assign(buffer, static_cast<size_t>(n));
    gTextCame = true;
}

// Dispatches what waits; returns the time since the last call, in ms.
double Pump() {
    static double last = Ms();
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    const double now = Ms();
    const double gap = now - last;
    last = now;
    return gap;
}

// A request repeated while busy; the status ("" none) and its time in ms.
template <typename Request>
std::string Ask(Request request, double& longest) {
    for (int tries = 0; tries < 50; ++tries) {
        gStatusCame = false;
        const double start = Ms();
        request();
        longest = std::max(longest, Ms() - start);
        if (!gStatusCame) {
            return "";
        }
        if (gStatus != VELLQUIB_STATUS_BUSY) {
            return gStatus;
        }
    }
    return gStatus;
}

int PluginCommand(const std::string& user, int rate, int seconds, const wchar_t* resultFile) {
    gUser = user;
    // Room for every line of up to 16 plug-ins, so that this bookkeeping
    // does not show as the plug-in's memory growing.
    gReceived.reserve(static_cast<size_t>(rate) * static_cast<size_t>(seconds + 10) * 16);
    Library lib;
    if (!lib.Load() || lib.init("HostLoad", &OnStatus, &OnMessage, &OnText) != 0 ||
        lib.reg("HostLoad") != 0) {
        return 3;
    }
    if (const Handle go{OpenEventW(SYNCHRONIZE, FALSE, kGoEvent)}) {
        // Waits for the others, dispatching meanwhile.
        HANDLE wait = go.get();
        while (MsgWaitForMultipleObjects(1, &wait, FALSE, 60000, QS_ALLINPUT) ==
               WAIT_OBJECT_0 + 1) {
            Pump();
        }
    }
    long sent = 0;
    long failed = 0;
    long fetches = 0;
    long fetchFailures = 0;
    long orderErrors = 0;
    double longestRequest = 0;
    double longestGap = 0;
    double goneAt = -1;
    double afterGone = 0;  // the longest request once the host was gone
    double quarterKiB = 0;
    const double start = Ms();
    const double end = start + seconds * 1000.0;
    double nextLine = start;
    double nextFetch = start + 1000.0;
    Pump();
    while (Ms() < end + kListenAfterMs) {
        const double now = Ms();
        if (quarterKiB == 0 && now - start >= seconds * 250.0) {
            quarterKiB = PrivateKiB(GetCurrentProcess());
        }
        if (now < end && now >= nextLine) {
            nextLine += 1000.0 / rate;
            char avatar[] = "";
            std::string line = "load " + std::to_string(sent + 1);
            double took = 0;
            const std::string status =
                Ask([&] { lib.say("HostLoad", 0, avatar, line.data()); }, took);
            longestRequest = std::max(longestRequest, took);
            if (status == VELLQUIB_STATUS_OK) {
                ++sent;
            } else {
                ++failed;
                if (status.empty() && goneAt < 0) {
                    goneAt = now - start;
                }
                if (goneAt >= 0) {
                    afterGone = std::max(afterGone, took);
                }
            }
        }
        if (now < end && now >= nextFetch) {
            nextFetch += 1000.0;
            double took = 0;
            gTextCame = false;
            const std::string status = Ask([&] { lib.fetch("HostLoad"); }, took);
            longestRequest = std::max(longestRequest, took);
            if (status.empty() && goneAt < 0) {
                goneAt = now - start;
            }
            if (goneAt >= 0) {
                afterGone = std::max(afterGone, took);
            }
            bool came = false;
            if (status == VELLQUIB_STATUS_OK) {
                const double wait = Ms();
                while (!gTextCame && Ms() - wait < 2000) {
                    longestGap = std::max(longestGap, Pump());
                    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
                }
                came = gTextCame;
            }
            if (!came) {
                ++fetchFailures;
            } else {
                ++fetches;
                // The other users' lines stand in the order their callbacks
                // came (the host's); each user's in the order it sent them.
                std::map<std::pair<std::string, long>, size_t> seen;
                for (size_t i = 0; i < gReceived.size(); ++i) {
                    if (gReceived[i].first != gUser) {
                        seen.emplace(gReceived[i], i);
                    }
                }
                std::map<std::string, long> lastOf;
                size_t lastIndex = 0;
                bool first = true;
                std::istringstream lines(gText);
                for (std::string l; std::getline(lines, l);) {
                    const size_t colon = l.find(": load ");
                    if (colon == std::string::npos) {
                        continue;
                    }
                    const std::string who = l.substr(0, colon);
                    const long seq = std::atol(l.c_str() + colon + 7);
                    long& last = lastOf[who];
                    if (seq <= last) {
                        ++orderErrors;
                    }
                    last = seq;
                    const auto it = seen.find({who, seq});
                    if (who != gUser && it != seen.end()) {
                        if (!first && it->second < lastIndex) {
                            ++orderErrors;
                        }
                        lastIndex = it->second;
                        first = false;
                    }
                }
            }
        }
        longestGap = std::max(longestGap, Pump());
        const double until = std::min(
            now < end ? std::min(nextLine, nextFetch) : end + kListenAfterMs, end + kListenAfterMs);
        const double wait = until - Ms();
        if (wait > 0) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(std::min(wait, 50.0)),
                                      QS_ALLINPUT);
        }
    }
    const double endKiB = PrivateKiB(GetCurrentProcess());
    lib.kill();
    // Per user: lines received, distinct, received again.
    std::map<std::string, std::set<long>> distinct;
    std::map<std::string, long> repeated;
    for (const auto& [who, seq] : gReceived) {
        if (!distinct[who].insert(seq).second) {
            ++repeated[who];
        }
    }
    std::ofstream out{std::filesystem::path(resultFile)};
    out << "plugin " << user << " sent " << sent << " failed " << failed << " fetches " << fetches
        << " fetch_failures " << fetchFailures << " order_errors " << orderErrors
        << " longest_gap_ms " << longestGap << " longest_request_ms " << longestRequest
        << " gone_at_ms " << goneAt << " after_gone_ms " << afterGone << " quarter_kib "
        << quarterKiB << " end_kib " << endKiB << "\n";
    for (const auto& [who, seqs] : distinct) {
        out << "received " << who << " " << seqs.size() << " " << repeated[who] << "\n";
    }
    if (std::getenv("HOST_LOAD_DUMP")) {
        for (const auto& [who, seq] : gReceived) {
            out << "# " << who << " " << seq << "\n";
        }
        out << "# last text\n" << gText << "\n";
    }
    return 0;
}

int DriveCommand(int plugins, int rate, int seconds, int killAfter, bool hang) {
    const HWND wire = FindWindowW(L"VellHost.Wire", nullptr);
    if (!wire) {
        std::fprintf(stderr, "host_load: no vellhost.exe runs\n");
        return 1;
    }
    DWORD hostPid = 0;
    GetWindowThreadProcessId(wire, &hostPid);
    const Handle host{
        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | PROCESS_TERMINATE | SYNCHRONIZE,
                    FALSE, hostPid)};
    const Handle go{CreateEventW(nullptr, TRUE, FALSE, kGoEvent)};
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    std::vector<Handle> owned;
    std::vector<HANDLE> processes;
    std::vector<std::wstring> results;
    for (int i = 1; i <= plugins; ++i) {
        const std::wstring user = L"P" + std::to_wstring(i);
        results.push_back(std::wstring(temp) + L"host_load_" + user + L".txt");
        DeleteFileW(results.back().c_str());
        SetEnvironmentVariableW(L"VELLQUIB_USER", user.c_str());
        std::wstring commandLine = L"\"" + std::wstring(self) + L"\" plugin " + user + L" " +
                                   std::to_wstring(rate) + L" " + std::to_wstring(seconds) +
                                   L" \"" + results.back() + L"\"";
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        if (!CreateProcessW(self, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &si, &pi)) {
            std::fprintf(stderr, "host_load: a plug-in did not start\n");
            return 1;
        }
        const Handle thread{pi.hThread};
        owned.emplace_back(pi.hProcess);
        processes.push_back(pi.hProcess);
    }
    Sleep(3000);  // every plug-in joins and registers
    SetEvent(go.get());
    const double start = Ms();
    double hostQuarter = 0;
    bool killed = false;
    while (WaitForMultipleObjects(static_cast<DWORD>(processes.size()), processes.data(), TRUE,
                                  100) == WAIT_TIMEOUT) {
        const double t = Ms() - start;
        if (hostQuarter == 0 && t >= seconds * 250.0) {
            hostQuarter = PrivateKiB(host.get());
        }
        if (killAfter > 0 && !killed && t >= killAfter * 1000.0) {
            if (hang) {
                const Handle thread{OpenThread(THREAD_SUSPEND_RESUME, FALSE,
                                               GetWindowThreadProcessId(wire, nullptr))};
                SuspendThread(thread.get());
            } else {
                TerminateProcess(host.get(), 9);
            }
            killed = true;
        }
        if (t > (seconds + 60) * 1000.0) {
            std::fprintf(stderr, "host_load: plug-ins hang\n");
            return 1;
        }
    }
    const double hostEnd = killed ? 0 : PrivateKiB(host.get());
    long sent = 0, lost = 0, dup = 0, order = 0, failed = 0, fetches = 0, fetchFailures = 0,
         crashed = 0;
    double gap = 0, request = 0, afterGone = 0, q = 0, e = 0;
    std::map<std::string, long> sentBy;
    std::vector<std::map<std::string, std::pair<long, long>>> receivedBy;
    for (size_t i = 0; i < processes.size(); ++i) {
        DWORD code = 1;
        GetExitCodeProcess(processes[i], &code);
        crashed += code != 0;
        std::ifstream in{std::filesystem::path(results[i])};
        std::string word, user;
        std::map<std::string, std::pair<long, long>> received;
        while (in >> word) {
            if (word == "plugin") {
                std::string k;
                double v = 0;
                in >> user;
                std::map<std::string, double> f;
                for (int n = 0; n < 11 && in >> k >> v; ++n) {
                    f[k] = v;
                }
                sentBy[user] = static_cast<long>(f["sent"]);
                sent += static_cast<long>(f["sent"]);
                failed += static_cast<long>(f["failed"]);
                fetches += static_cast<long>(f["fetches"]);
                fetchFailures += static_cast<long>(f["fetch_failures"]);
                order += static_cast<long>(f["order_errors"]);
                gap = std::max(gap, f["longest_gap_ms"]);
                request = std::max(request, f["longest_request_ms"]);
                afterGone = std::max(afterGone, f["after_gone_ms"]);
                q += f["quarter_kib"];
                e += f["end_kib"];
            } else if (word == "received") {
                std::string who;
                long count = 0, dups = 0;
                in >> who >> count >> dups;
                received[who] = {count, dups};
            }
        }
        receivedBy.push_back(received);
    }
    for (size_t i = 0; i < receivedBy.size(); ++i) {
        for (const auto& [who, n] : sentBy) {
            const auto it = receivedBy[i].find(who);
            const long got = it == receivedBy[i].end() ? 0 : it->second.first;
            lost += std::max(0L, n - got);
            dup += it == receivedBy[i].end() ? 0 : it->second.second;
        }
    }
    const std::string fault = !killed ? ""
                                      : (hang ? ", host hung after " : ", host killed after ") +
                                            std::to_string(killAfter) + " s";
    std::printf("| Plug-ins x lines/s x s | %d x %d x %d%s |\n", plugins, rate, seconds,
                fault.c_str());
    std::printf("| Lines sent (status \"0\") / not sent | %ld / %ld |\n", sent, failed);
    std::printf("| Lines %s / duplicated, over every plug-in's callbacks | %ld / %ld |\n",
                killed ? "sent before the fault that did not reach every plug-in" : "lost", lost,
                dup);
    std::printf("| Fetches / failed / out of the host's order | %ld / %ld / %ld |\n", fetches,
                fetchFailures, order);
    std::printf(
        "| Longest stand-still of a plug-in's message loop / longest request | %.0f ms / "
        "%.0f ms |\n",
        gap, request);
    if (killed) {
        std::printf("| Longest request once the host was %s | %.0f ms |\n", hang ? "hung" : "gone",
                    afterGone);
    } else {
        std::printf(
            "| Host private memory after the first quarter / at the end | %.0f KiB / "
            "%.0f KiB (%+.1f %%) |\n",
            hostQuarter, hostEnd, hostQuarter > 0 ? (hostEnd / hostQuarter - 1) * 100 : 0);
    }
    std::printf(
        "| Plug-ins' private memory after the first quarter / at the end (sum) | %.0f KiB / "
        "%.0f KiB (%+.1f %%) |\n",
        q, e, q > 0 ? (e / q - 1) * 100 : 0);
    std::printf("| Plug-ins that did not end well | %ld |\n", crashed);
    return 0;
}

int LatencyCommand(int calls) {
    Library lib;
    if (!lib.Load()) {
        return 3;
    }
    const char* kinds[] = {"joined to vellhost.exe", "the stand-in's own world"};
    for (int k = 0; k < 2; ++k) {
        SetEnvironmentVariableW(L"VELLQUIB_HOST", k == 0 ? L"required" : L"none");
        if (lib.init("HostLatency", &OnStatus, &OnMessage, &OnText) != 0 ||
            lib.reg("HostLatency") != 0) {
            std::fprintf(stderr, "host_load: no link %s\n", kinds[k]);
            return 3;
        }
        std::vector<double> ms;
        for (int i = 0; i < calls; ++i) {
            char avatar[] = "";
            std::string line = "latency " + std::to_string(i);
            gStatusCame = false;
            const double start = Ms();
            lib.say("HostLatency", 0, avatar, line.data());
            ms.push_back(Ms() - start);
            if (i % 50 == 0) {
                Pump();  // lets the link's queued work run now and then
            }
        }
        Pump();
        lib.kill();
        std::printf(
            "| QuibCommunicate, %s (%d calls): median / 99th percentile / worst | %.3f ms "
            "/ %.3f ms / %.3f ms |\n",
            kinds[k], calls, Percentile(ms, 0.5), Percentile(ms, 0.99), Percentile(ms, 1.0));
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    const auto number = [&](int i, int fallback) {
        return argc > i ? static_cast<int>(std::wcstol(argv[i], nullptr, 10)) : fallback;
    };
    if (mode == L"latency") {
        return LatencyCommand(number(2, 2000));
    }
    if (mode == L"drive") {
        return DriveCommand(number(2, 8), number(3, 20), number(4, 60), number(5, 0),
                            argc > 6 && std::wstring(argv[6]) == L"hang");
    }
    if (mode == L"plugin" && argc > 5) {
        char user[64] = {};
        WideCharToMultiByte(CP_ACP, 0, argv[2], -1, user, sizeof user, nullptr, nullptr);
        return PluginCommand(user, number(3, 20), number(4, 60), argv[5]);
    }
    std::fprintf(stderr,
                 "usage: host_load latency <calls> | drive <plug-ins> <lines/s> <seconds> "
                 "[kill-after-s [hang]] | plugin <user> <lines/s> <seconds> <result file>\n");
    return 2;
}
