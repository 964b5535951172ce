// trace_bench: the time one call into a host library takes, per export, so
// that the stand-in can be timed with and without the tracer in front, and
// with its rule checks off and on.
//
//   trace_bench <full path of a vellquib.dll> [calls]   (default 20000)
//   trace_bench --checks <vellquib.dll> <a copy of it> [calls]
//     the stand-in with VELLQUIB_CHECK=off and its copy with =1, opened side
//     by side and timed in turn, seven rounds each: the medians per export,
//     in the thread's processor time (rounds of at least a second each, as
//     the system counts it in steps of 10 to 16 ms).
//
// Opens a link as "TraceBench", registers, and times calls in a row of
// IsVellThere (no callback), QuibRegister of the registered plug-in (no
// callback) and QuibCommunicate "Speak" (a message and a status callback
// each). Prints one line per export: the median of five rounds in
// nanoseconds per call. Set VELLQUIB_BUSY_PERCENT=0 and VELLQUIB_CHATTER_MS=0
// for the stand-in, so that every call does the same.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <functional>
#include <utility>
#include <vector>

#include "vellquib.h"

namespace {

long gCallbacks = 0;

void VELLQUIB_CALL OnStatus(const char*, int32_t) {
    ++gCallbacks;
}
void VELLQUIB_CALL OnMessage(const char*, int32_t, int16_t, const char*, int32_t) {
    ++gCallbacks;
}
void VELLQUIB_CALL OnText(const char*, int32_t) {
    ++gCallbacks;
}

double Seconds() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The processor time this thread has used, in seconds: unlike the clock it
// does not count the time other programs of a busy machine take from it.
double ThreadSeconds() {
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    const auto seconds = [](const FILETIME& t) {
        return static_cast<double>((static_cast<uint64_t>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime) /
               1e7;
    };
    return seconds(kernel) + seconds(user);
}

// One round of calls calls, in nanoseconds per call, by the clock.
double Round(long calls, const std::function<void()>& call) {
    const double start = Seconds();
    for (long i = 0; i < calls; ++i) {
        call();
    }
    return (Seconds() - start) * 1e9 / static_cast<double>(calls);
}

// One round of at least a second of the thread's processor time, in batches
// of calls calls, in nanoseconds per call.
double ProcessorRound(long calls, const std::function<void()>& call) {
    const double start = ThreadSeconds();
    double used = 0;
    long made = 0;
    while (used < 1.0) {
        for (long i = 0; i < calls; ++i) {
            call();
        }
        made += calls;
        used = ThreadSeconds() - start;
    }
    return used * 1e9 / static_cast<double>(made);
}

double Median(std::vector<double> rounds) {
    std::sort(rounds.begin(), rounds.end());
    return rounds[rounds.size() / 2];
}

// The median over five rounds of calls calls, in nanoseconds per call.
double NanosecondsPerCall(long calls, const std::function<void()>& call) {
    std::vector<double> rounds;
    for (int round = 0; round < 5; ++round) {
        rounds.push_back(Round(calls, call));
    }
    return Median(rounds);
}

template <typename Proc>
Proc Export(HMODULE library, const char* name) {
    return reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

// A host library loaded, with its link open and the bench registered.
struct Host {
    HMODULE library = nullptr;
    KillDDEProc killDDE = nullptr;
    QuibRegisterProc quibRegister = nullptr;
    QuibCommunicateProc communicate = nullptr;
    IsVellThereProc isVellThere = nullptr;
    char avatar[1] = "";
    char line[24] = "A line of the benchmark";

    // False, said on standard error, when it cannot be loaded or opened.
    bool Open(const wchar_t* path) {
        library = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (!library) {
            std::fprintf(stderr, "trace_bench: cannot load the library\n");
            return false;
        }
        const auto initDDE = Export<InitDDEProc>(library, "InitDDE");
        killDDE = Export<KillDDEProc>(library, "KillDDE");
        quibRegister = Export<QuibRegisterProc>(library, "QuibRegister");
        communicate = Export<QuibCommunicateProc>(library, "QuibCommunicate");
        isVellThere = Export<IsVellThereProc>(library, "IsVellThere");
        if (!initDDE || !killDDE || !quibRegister || !communicate || !isVellThere) {
            std::fprintf(stderr, "trace_bench: an export is missing\n");
            return false;
        }
        const int16_t opened = initDDE("TraceBench", OnStatus, OnMessage, OnText);
        if (opened != 0) {
            std::fprintf(stderr, "trace_bench: InitDDE returned %d\n", opened);
            return false;
        }
        quibRegister("TraceBench");
        return true;
    }
    void Close() {
        killDDE();
        FreeLibrary(library);
    }
    // The calls timed, by export.
    std::vector<std::pair<const char*, std::function<void()>>> Calls() {
        return {{"IsVellThere", [this] { isVellThere(); }},
                {"QuibRegister", [this] { quibRegister("TraceBench"); }},
                {"QuibCommunicate", [this] { communicate("TraceBench", 0, avatar, line); }}};
    }
};

// Two copies of the stand-in, one with its rule checks off and one with
// them on, timed in turn round by round in this one process.
int CompareChecks(const wchar_t* off, const wchar_t* on, long calls) {
    Host unchecked, checked;
    SetEnvironmentVariableW(L"VELLQUIB_CHECK", L"off");
    if (!unchecked.Open(off)) {
        return 2;
    }
    SetEnvironmentVariableW(L"VELLQUIB_CHECK", L"1");
    if (!checked.Open(on)) {
        return 2;
    }
    const auto a = unchecked.Calls();
    const auto b = checked.Calls();
    for (size_t i = 0; i < a.size(); ++i) {
        std::vector<double> offRounds, onRounds;
        for (int round = 0; round < 7; ++round) {
            offRounds.push_back(ProcessorRound(calls, a[i].second));
            onRounds.push_back(ProcessorRound(calls, b[i].second));
        }
        const double o = Median(offRounds), c = Median(onRounds);
        std::printf("%-16s checks off %6.0f ns   on %6.0f ns   %+.1f %%\n", a[i].first, o, c,
                    (c - o) * 100 / o);
    }
    unchecked.Close();
    checked.Close();
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 4 && std::wcscmp(argv[1], L"--checks") == 0) {
        const long calls = argc > 4 ? std::wcstol(argv[4], nullptr, 10) : 20000;
        return calls > 0 ? CompareChecks(argv[2], argv[3], calls) : 2;
    }
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: trace_bench <full path of a vellquib.dll> [calls]\n"
                     "       trace_bench --checks <vellquib.dll> <a copy of it> [calls]\n");
        return 2;
    }
    const long calls = argc > 2 ? std::wcstol(argv[2], nullptr, 10) : 20000;
    Host host;
    if (calls <= 0 || !host.Open(argv[1])) {
        return 2;
    }
    for (const auto& [name, call] : host.Calls()) {
        std::printf("%s %.0f ns\n", name, NanosecondsPerCall(calls, call));
    }
    host.Close();
    std::printf("callbacks %ld\n", gCallbacks);
    return 0;
}
