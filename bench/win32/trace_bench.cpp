// trace_bench: the time one call into a host library takes, per export, so
// that the stand-in can be timed with and without the tracer in front.
//
//   trace_bench <full path of a vellquib.dll> [calls]   (default 20000)
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
#include <vector>

#include "owned_win32.h"
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

// The median over five rounds of calls calls, in nanoseconds per call.
double NanosecondsPerCall(long calls, const std::function<void()>& call) {
    std::vector<double> rounds;
    for (int round = 0; round < 5; ++round) {
        const double start = Seconds();
        for (long i = 0; i < calls; ++i) {
            call();
        }
        rounds.push_back((Seconds() - start) * 1e9 / static_cast<double>(calls));
    }
    std::sort(rounds.begin(), rounds.end());
    return rounds[2];
}

template <typename Proc>
Proc Export(HMODULE library, const char* name) {
    return reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: trace_bench <full path of a vellquib.dll> [calls]\n");
        return 2;
    }
    const long calls = argc > 2 ? std::wcstol(argv[2], nullptr, 10) : 20000;
    const quib::standin::OwnedModule owned(
        LoadLibraryExW(argv[1], nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    const HMODULE library = owned.get();
    if (!library || calls <= 0) {
        std::fprintf(stderr, "trace_bench: cannot load the library\n");
        return 2;
    }
    const auto initDDE = Export<InitDDEProc>(library, "InitDDE");
    const auto killDDE = Export<KillDDEProc>(library, "KillDDE");
    const auto quibRegister = Export<QuibRegisterProc>(library, "QuibRegister");
    const auto communicate = Export<QuibCommunicateProc>(library, "QuibCommunicate");
    const auto isVellThere = Export<IsVellThereProc>(library, "IsVellThere");
    if (!initDDE || !killDDE || !quibRegister || !communicate || !isVellThere) {
        std::fprintf(stderr, "trace_bench: an export is missing\n");
        return 2;
    }
    const int16_t opened = initDDE("TraceBench", OnStatus, OnMessage, OnText);
    if (opened != 0) {
        std::fprintf(stderr, "trace_bench: InitDDE returned %d\n", opened);
        return 1;
    }
    quibRegister("TraceBench");
    char avatar[] = "";
    char line[] = "A line of the benchmark";
    std::printf("IsVellThere %.0f ns\n", NanosecondsPerCall(calls, [&] { isVellThere(); }));
    std::printf("QuibRegister %.0f ns\n",
                NanosecondsPerCall(calls, [&] { quibRegister("TraceBench"); }));
    std::printf("QuibCommunicate %.0f ns\n", NanosecondsPerCall(calls, [&] {
                    communicate("TraceBench", VELLQUIB_MODE_SPEAK, avatar, line);
                }));
    killDDE();
    std::printf("callbacks %ld\n", gCallbacks);
    return 0;
}
