// rule_breaker: a plug-in that breaks one rule of the host interface on
// purpose, so that the stand-in's checker can be shown to catch it.
//
//   rule_breaker <rule> [times]
//
// <rule> names the rule (see kRules below; "none" breaks nothing); times
// repeats the breaking call where that makes sense (call-after-kill). It
// loads vellquib.dll from its own folder and sets the stand-in's settings it
// needs itself, a script beside it included; run it with VELLQUIB_CHECK=1.
// Exit code 0, or 2 when the library or the rule is missing.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "loaded_exports.h"
#include "vellquib.h"

namespace {

constexpr char kName[] = "RuleBreaker";

LoadedExports gHost;
HMODULE gLibrary;

std::function<void()> gInsideStatus;  // done once, inside the next status
bool gTextCame = false;
char gAvatar[16] = "";
char gMessage[16] = "Hello";

void VELLQUIB_CALL OnStatus(const char*, int32_t) {
    if (gInsideStatus) {
        const std::function<void()> work = std::move(gInsideStatus);
        gInsideStatus = nullptr;
        work();
    }
}
void VELLQUIB_CALL OnMessage(const char*, int32_t, int16_t, const char*, int32_t) {}
void VELLQUIB_CALL OnText(const char*, int32_t) {
    gTextCame = true;
}

std::string OwnFolder() {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, n);
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

bool Load() {
    gLibrary = LoadLibraryA((OwnFolder() + "vellquib.dll").c_str());
    return gLibrary && gHost.LookUp(gLibrary);
}

// The stand-in answers from this script instead of its world.
void UseScript(const char* rule, const char* text) {
    const std::string path = OwnFolder() + "rule_breaker-" + rule + ".script";
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fputs(text, f);
        std::fclose(f);
    }
    SetEnvironmentVariableA("VELLQUIB_SCRIPT", path.c_str());
}

void Open() {
    gHost.InitDDE(kName, OnStatus, OnMessage, OnText);
}
void Say() {
    gHost.QuibCommunicate(kName, 0, gAvatar, gMessage);
}

// Dispatches the thread's messages until the text came or ms passed.
void WaitForText(DWORD ms) {
    const DWORD start = GetTickCount();
    while (!gTextCame && GetTickCount() - start < ms) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

// A host that overwrites the message "Hello" with "WORLD" and its NUL with
// "!", and is busy: the request must be repeated with "WORLD".
constexpr char kOverwritingHost[] =
    "QuibCommunicate 6\n  write message \"WORLD!\"\nQuibCommunicate 0\n";

DWORD WINAPI OtherThread(void*) {
    return static_cast<DWORD>(gHost.IsVellThere());
}

struct Breaker {
    const char* rule;
    std::function<void(int times)> run;
};

const Breaker kRules[] = {
    {"none",
     [](int) {
         SetEnvironmentVariableA("VELLQUIB_DELIVERY_MS", "50");
         Open();
         gHost.QuibRegister(kName);
         Say();
         gHost.QuibGetAllText(kName);
         WaitForText(5000);
         gHost.KillDDE();
     }},
    {"unload-before-kill",
     [](int) {
         Open();
         gHost.QuibRegister(kName);
         FreeLibrary(gLibrary);
     }},
    {"thread-caller",
     [](int) {
         Open();
         const HANDLE thread = CreateThread(nullptr, 0, &OtherThread, nullptr, 0, nullptr);
         WaitForSingleObject(thread, INFINITE);
         CloseHandle(thread);
         gHost.KillDDE();
     }},
    {"call-in-callback",
     [](int) {
         Open();
         gHost.QuibRegister(kName);
         gInsideStatus = [] { Say(); };
         Say();
         gHost.KillDDE();
     }},
    {"no-message-loop",
     [](int) {
         SetEnvironmentVariableA("VELLQUIB_DELIVERY_MS", "0");
         Open();
         gHost.QuibRegister(kName);
         gHost.QuibGetAllText(kName);
         Sleep(2600);  // waits for the text without dispatching messages
         gHost.KillDDE();
     }},
    {"null-argument",
     [](int) {
         Open();
         gHost.QuibRegister(kName);
         gHost.QuibCommunicate(kName, 0, nullptr, gMessage);
         gHost.KillDDE();
     }},
    {"buffer-not-writable",
     [](int) {
         Open();
         gHost.QuibRegister(kName);
         gHost.QuibCommunicate(kName, 0, const_cast<char*>(""), const_cast<char*>("Hello"));
         gHost.KillDDE();
     }},
    {"repeat-not-as-left",
     [](int) {
         UseScript("repeat-not-as-left", kOverwritingHost);
         Open();
         Say();
         Say();  // "WORLD!": the NUL the host overwrote was not put back
         gHost.KillDDE();
     }},
    {"buffer-written-after-call",
     [](int) {
         UseScript("buffer-written-after-call", kOverwritingHost);
         Open();
         Say();
         std::strcpy(gMessage, "Hello");  // its own text again, not what was left
         Say();
         gHost.KillDDE();
     }},
    {"retry-after-refused",
     [](int) {
         Open();
         gHost.QuibRegister(kName);
         gHost.QuibCommunicate(kName, 7, gAvatar, gMessage);  // no such mode: "-1"
         gHost.QuibCommunicate(kName, 7, gAvatar, gMessage);
         gHost.KillDDE();
     }},
    {"repeat-without-register",
     [](int) {
         Open();
         Say();  // "10"
         Say();
         gHost.KillDDE();
     }},
    {"retry-unbounded",
     [](int) {
         SetEnvironmentVariableA("VELLQUIB_BUSY_PERCENT", "100");
         Open();
         gHost.QuibRegister(kName);
         for (int i = 0; i < 1001; ++i) {
             Say();
         }
         gHost.KillDDE();
     }},
    {"retry-without-status",
     [](int) {
         UseScript("retry-without-status", "QuibCommunicate -\nQuibCommunicate 0\n");
         Open();
         Say();
         Say();
         gHost.KillDDE();
     }},
    {"call-before-init",
     [](int) {
         gHost.QuibRegister(kName);
         Open();
         gHost.KillDDE();
     }},
    {"init-twice",
     [](int) {
         Open();
         Open();
         gHost.KillDDE();
     }},
    {"init-after-kill",
     [](int) {
         Open();
         gHost.KillDDE();
         Open();
         gHost.KillDDE();
     }},
    {"name-changed",
     [](int) {
         Open();
         gHost.QuibRegister("SomeoneElse");
         gHost.KillDDE();
     }},
    {"call-after-kill",
     [](int times) {
         Open();
         gHost.KillDDE();
         for (int i = 0; i < times; ++i) {
             gHost.IsVellThere();
         }
     }},
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: rule_breaker <rule> [times]\n");
        return 2;
    }
    SetEnvironmentVariableA("VELLQUIB_BUSY_PERCENT", "0");
    SetEnvironmentVariableA("VELLQUIB_CHATTER_MS", "0");
    SetEnvironmentVariableA("VELLQUIB_SCRIPT", nullptr);
    const int times = argc > 2 ? std::atoi(argv[2]) : 1;
    for (const Breaker& b : kRules) {
        if (std::strcmp(b.rule, argv[1]) == 0) {
            if (!Load()) {
                std::fprintf(stderr, "rule_breaker: cannot load vellquib.dll\n");
                return 2;
            }
            b.run(times);
            return 0;
        }
    }
    std::fprintf(stderr, "rule_breaker: no rule %s\n", argv[1]);
    return 2;
}
