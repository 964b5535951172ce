// vellquib.dll through its exports, as a plug-in uses it: statuses, callbacks
// on the calling thread, deliveries from the message loop, closing the link.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "loaded_exports.h"
#include "platform/win32/handles.h"
#include "vellquib.h"

namespace {

struct Message {
    std::string text1;
    int16_t number;
    std::string text2;
};

// What the callbacks received, and on which thread.
struct Record {
    std::vector<std::string> statuses;
    std::vector<Message> messages;
    std::vector<std::string> texts;
    std::vector<DWORD> threads;
};
Record gRecord;

void VELLQUIB_CALL OnStatus(const char* s, int32_t n) {
    gRecord.statuses.emplace_back(s, static_cast<size_t>(n));
    gRecord.threads.push_back(GetCurrentThreadId());
}
void VELLQUIB_CALL OnMessage(const char* a, int32_t na, int16_t number, const char* b, int32_t nb) {
    gRecord.messages.push_back(
        {std::string(a, static_cast<size_t>(na)), number, std::string(b, static_cast<size_t>(nb))});
    gRecord.threads.push_back(GetCurrentThreadId());
}
void VELLQUIB_CALL OnText(const char* t, int32_t n) {
    gRecord.texts.emplace_back(t, static_cast<size_t>(n));
    gRecord.threads.push_back(GetCurrentThreadId());
}

class Dll : public ::testing::Test {
  protected:
    void SetUp() override {
        gRecord = Record();
        // Quiet defaults for every test; a test overrides before Open().
        Env("VELLQUIB_BUSY_PERCENT", "0");
        Env("VELLQUIB_DELIVERY_MS", "0");
        Env("VELLQUIB_CHATTER_MS", "0");
        Env("VELLQUIB_ESP_REPLY_MS", "0");
        Env("VELLQUIB_INIT_RESULT", nullptr);
        Env("VELLQUIB_SEED", nullptr);
        Env("VELLQUIB_SCRIPT", nullptr);
        // Its own world, never a vellhost.exe that another test has started.
        Env("VELLQUIB_HOST", "none");
        module_.Reset(LoadLibraryW(L"vellquib.dll"));
        ASSERT_TRUE(module_);
        ASSERT_TRUE(host_.LookUp(module_.Get()));
    }
    void TearDown() override {
        if (host_.KillDDE) {
            host_.KillDDE();
        }
        module_.Reset();  // after KillDDE
    }

    static void Env(const char* name, const char* value) { SetEnvironmentVariableA(name, value); }

    int16_t Open() { return host_.InitDDE("Demo", &OnStatus, &OnMessage, &OnText); }

    // Dispatches messages until pred holds or the time is up.
    template <typename Pred>
    bool PumpUntil(Pred pred, DWORD ms = 3000) {
        const DWORD start = GetTickCount();
        while (!pred()) {
            if (GetTickCount() - start > ms) {
                return false;
            }
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                DispatchMessageW(&msg);
            }
            Sleep(5);
        }
        return true;
    }
    void PumpFor(DWORD ms) {
        PumpUntil([] { return false; }, ms);
    }

    int32_t Communicate(int16_t mode, std::string avatar, std::string message) {
        return host_.QuibCommunicate("Demo", mode, avatar.data(), message.data());
    }

    // Fetches the buffer and waits for its delivery.
    std::string Fetch() {
        const size_t before = gRecord.texts.size();
        EXPECT_EQ(host_.QuibGetAllText("Demo"), 0);
        EXPECT_TRUE(PumpUntil([&] { return gRecord.texts.size() > before; }));
        return gRecord.texts.size() > before ? gRecord.texts.back() : std::string();
    }

    quib::platform::UniqueModule module_;
    LoadedExports host_;
};

bool Contains(const std::string& s, const std::string& part) {
    return s.find(part) != std::string::npos;
}

TEST_F(Dll, RegistrationDecidesTheStatusAndTextComesFromTheMessageLoop) {
    ASSERT_EQ(Open(), 0);
    EXPECT_EQ(host_.IsVellThere(), 1);
    EXPECT_EQ(host_.QuibGetAllText("Demo"), 10);
    EXPECT_EQ(gRecord.statuses, std::vector<std::string>{VELLQUIB_STATUS_NOT_REGISTERED});

    EXPECT_EQ(host_.QuibRegister("Demo"), 0);
    EXPECT_EQ(host_.QuibRegister("Demo"), 1);  // already registered
    EXPECT_EQ(gRecord.statuses.size(), 1u);    // registering reports no status
    EXPECT_EQ(host_.QuibGetAllText("Demo"), 0);
    EXPECT_EQ(gRecord.statuses.back(), VELLQUIB_STATUS_OK);
    EXPECT_TRUE(gRecord.texts.empty()) << "the text must come later, not inside the call";

    ASSERT_TRUE(PumpUntil([] { return !gRecord.texts.empty(); }));
    const std::string& text = gRecord.texts[0];
    ASSERT_GE(text.size(), 5u);
    EXPECT_EQ(text.back(), '\0');
    EXPECT_EQ(text.find('\0'), text.size() - 1);
    EXPECT_EQ(text.substr(text.size() - 7, 2), "\r\n");
    EXPECT_TRUE(Contains(text, "<system>: Plug-in Demo registered.\r\n"));
    EXPECT_EQ(text.rfind("<system>: Welcome to Vell.", 0), 0u);
    // Only one delivery per request.
    PumpFor(100);
    EXPECT_EQ(gRecord.texts.size(), 1u);

    EXPECT_EQ(host_.QuibUnregister("Demo"), 0);
    EXPECT_EQ(Communicate(0, "", "hi"), 10);
}

TEST_F(Dll, SpokenLinesAndEspAnswersAppearInTheNextFetch) {
    ASSERT_EQ(Open(), 0);
    host_.QuibRegister("Demo");
    gRecord.messages.clear();
    EXPECT_EQ(Communicate(0, "", "Hello world"), 0);
    ASSERT_FALSE(gRecord.messages.empty());
    EXPECT_EQ(gRecord.messages.back().text1, "Visitor");
    EXPECT_EQ(gRecord.messages.back().number, 1);
    EXPECT_EQ(gRecord.messages.back().text2, "Hello world");
    EXPECT_EQ(gRecord.statuses.back(), VELLQUIB_STATUS_OK);

    EXPECT_EQ(Communicate(2, "Quill", "Where is the pier?"), 0);
    EXPECT_EQ(gRecord.messages.back().number, 4);
    ASSERT_TRUE(PumpUntil([] { return gRecord.messages.back().number == 3; }));
    EXPECT_EQ(gRecord.messages.back().text1, "Quill");

    const std::string text = Fetch();
    EXPECT_TRUE(Contains(text, "\r\nVisitor: Hello world\r\n"));
    EXPECT_TRUE(Contains(text, "\r\nESP to Quill: Where is the pier?\r\n"));
    EXPECT_TRUE(Contains(text, "\r\nESP from Quill: "));
}

TEST_F(Dll, UnusableArgumentsAnswerMinusOne) {
    ASSERT_EQ(Open(), 0);
    host_.QuibRegister("Demo");
    std::string empty, line = "x";
    EXPECT_EQ(host_.QuibCommunicate(nullptr, 0, empty.data(), line.data()), -1);
    EXPECT_EQ(host_.QuibCommunicate("Demo", 0, nullptr, line.data()), -1);
    EXPECT_EQ(host_.QuibCommunicate("Demo", 0, empty.data(), nullptr), -1);
    EXPECT_EQ(host_.QuibCommunicate("Demo", 7, empty.data(), line.data()), -1);
    EXPECT_EQ(host_.QuibCommunicate("Demo", 2, empty.data(), line.data()), -1);
    EXPECT_EQ(host_.QuibGetAllText(""), -1);
    EXPECT_EQ(host_.QuibSend("Demo", nullptr), -1);
    EXPECT_EQ(gRecord.statuses, std::vector<std::string>(7, VELLQUIB_STATUS_REFUSED));
    EXPECT_EQ(host_.QuibRegister(nullptr), -1);
    EXPECT_EQ(host_.QuibSend("Demo", "anything"), 0);
}

TEST_F(Dll, BusyHostAnswersSixUntilItGoesThrough) {
    Env("VELLQUIB_BUSY_PERCENT", "100");
    ASSERT_EQ(Open(), 0);
    host_.QuibRegister("Demo");
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(host_.QuibGetAllText("Demo"), 6);
    }
    PumpFor(50);
    EXPECT_TRUE(gRecord.texts.empty());  // busy requests deliver nothing
}

TEST_F(Dll, KillStopsEverythingAndLaterCallsAnswerMinusOne) {
    Env("VELLQUIB_DELIVERY_MS", "200");
    Env("VELLQUIB_CHATTER_MS", "20");
    ASSERT_EQ(Open(), 0);
    EXPECT_EQ(Open(), 2);  // one link per process
    host_.QuibRegister("Demo");
    EXPECT_EQ(host_.QuibGetAllText("Demo"), 0);
    const size_t statuses = gRecord.statuses.size();
    EXPECT_EQ(host_.KillDDE(), 0);
    gRecord.messages.clear();
    PumpFor(400);
    EXPECT_TRUE(gRecord.texts.empty()) << "a delivery after KillDDE";
    EXPECT_TRUE(gRecord.messages.empty()) << "chatter after KillDDE";

    std::string a, m = "x";
    EXPECT_EQ(host_.KillDDE(), -1);
    EXPECT_EQ(host_.QuibRegister("Demo"), -1);
    EXPECT_EQ(host_.QuibUnregister("Demo"), -1);
    EXPECT_EQ(host_.QuibCommunicate("Demo", 0, a.data(), m.data()), -1);
    EXPECT_EQ(host_.QuibGetAllText("Demo"), -1);
    EXPECT_EQ(host_.QuibSend("Demo", "x"), -1);
    EXPECT_EQ(host_.IsVellThere(), 0);
    EXPECT_EQ(gRecord.statuses.size(), statuses);

    // The link opens again, with a fresh world.
    ASSERT_EQ(Open(), 0);
    EXPECT_EQ(host_.QuibGetAllText("Demo"), 10);
}

TEST_F(Dll, CallbacksStayOnTheOpeningThread) {
    Env("VELLQUIB_CHATTER_MS", "20");
    ASSERT_EQ(Open(), 0);
    host_.QuibRegister("Demo");
    int32_t fromOther = 0;
    std::thread([&] {
        std::string a, m = "x";
        fromOther = host_.QuibCommunicate("Demo", 0, a.data(), m.data()) +
                    host_.QuibGetAllText("Demo") + host_.QuibRegister("Demo") + host_.KillDDE();
    }).join();
    EXPECT_EQ(fromOther, -4);
    EXPECT_EQ(host_.IsVellThere(), 1);  // the other thread's KillDDE did not close it
    Fetch();
    gRecord.messages.clear();
    ASSERT_TRUE(PumpUntil([] { return gRecord.messages.size() >= 3; }));
    for (DWORD t : gRecord.threads) {
        EXPECT_EQ(t, GetCurrentThreadId());
    }
    // The chatter: speech or ESP to the user.
    for (const Message& m : gRecord.messages) {
        EXPECT_TRUE(m.number == 1 || m.number == 3) << m.number;
    }
}

TEST_F(Dll, InitResultCanBeForcedToFail) {
    Env("VELLQUIB_INIT_RESULT", "7");
    EXPECT_EQ(Open(), 7);
    EXPECT_EQ(host_.IsVellThere(), 0);
    EXPECT_EQ(host_.QuibGetAllText("Demo"), -1);
    EXPECT_EQ(host_.InitDDE(nullptr, &OnStatus, &OnMessage, &OnText), -1);
    Env("VELLQUIB_INIT_RESULT", nullptr);
    EXPECT_EQ(host_.InitDDE("", &OnStatus, &OnMessage, &OnText), -1);
}

// The stand-in's link window of this process: programs beside the test
// (QuibDemo under the end-to-end tests) have message-only windows of the same
// class.
HWND OwnLinkWindow() {
    HWND w = nullptr;
    while ((w = FindWindowExW(HWND_MESSAGE, w, L"VellQuibStandIn.Link", nullptr)) != nullptr) {
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (pid == GetCurrentProcessId()) {
            return w;
        }
    }
    return nullptr;
}

// Unloading without KillDDE does nothing at DLL_PROCESS_DETACH (closing a
// window there, under the loader lock, can deadlock): the open link keeps the
// library loaded, so no message reaches an unloaded window procedure, and
// goes on until KillDDE, after which the library unloads.
TEST_F(Dll, UnloadingWithoutKillKeepsTheLibraryAndItsLinkUntilKillDDE) {
    Env("VELLQUIB_CHATTER_MS", "10");
    ASSERT_EQ(Open(), 0);
    host_.QuibRegister("Demo");
    EXPECT_EQ(host_.QuibGetAllText("Demo"), 0);  // a delivery is posted to the link window
    module_.Reset();
    ASSERT_NE(GetModuleHandleW(L"vellquib.dll"), nullptr);
    EXPECT_NE(OwnLinkWindow(), nullptr);
    EXPECT_TRUE(PumpUntil([] { return !gRecord.texts.empty(); }));

    module_.Reset(LoadLibraryW(L"vellquib.dll"));  // the same library, link and all
    EXPECT_EQ(host_.IsVellThere(), 1);
    EXPECT_EQ(host_.KillDDE(), 0);
    module_.Reset();
    EXPECT_EQ(GetModuleHandleW(L"vellquib.dll"), nullptr);
    EXPECT_EQ(OwnLinkWindow(), nullptr);
    host_.KillDDE = nullptr;
    gRecord = Record();
    PumpFor(100);  // would run the unloaded window procedure
    EXPECT_TRUE(gRecord.messages.empty());
}

// The simulated world and a script answer through the same link: statuses
// inside the call, deliveries from the message loop on the opening thread,
// nothing for a call from another thread and nothing after KillDDE.
TEST_F(Dll, WorldAndScriptAnswerThroughTheSameLink) {
    {
        std::ofstream script("two_answerers.script", std::ios::binary);
        script << "QuibGetAllText 0\n  text after 100 \"Edda: hi\"\n"
                  "QuibGetAllText 0\n  text after 100 \"late\"\n";
    }
    Env("VELLQUIB_DELIVERY_MS", "100");
    for (const char* script : {static_cast<const char*>(nullptr), "two_answerers.script"}) {
        SCOPED_TRACE(script ? "script" : "world");
        gRecord = Record();
        Env("VELLQUIB_SCRIPT", script);
        ASSERT_EQ(Open(), 0);
        host_.QuibRegister("Demo");
        EXPECT_EQ(host_.QuibGetAllText("Demo"), 0);
        EXPECT_TRUE(gRecord.texts.empty());
        ASSERT_TRUE(PumpUntil([] { return !gRecord.texts.empty(); }));
        if (script) {
            EXPECT_EQ(gRecord.texts[0], std::string("Edda: hi\r\n0001\0", 15));
        }

        const size_t statuses = gRecord.statuses.size();
        int32_t fromOther = 0;
        std::thread([&] { fromOther = host_.QuibGetAllText("Demo"); }).join();
        EXPECT_EQ(fromOther, -1);
        EXPECT_EQ(gRecord.statuses.size(), statuses);

        EXPECT_EQ(host_.QuibGetAllText("Demo"), 0);
        EXPECT_EQ(host_.KillDDE(), 0);
        PumpFor(250);
        EXPECT_EQ(gRecord.texts.size(), 1u) << "a delivery after KillDDE";
        for (DWORD t : gRecord.threads) {
            EXPECT_EQ(t, GetCurrentThreadId());
        }
    }
}

// A plug-in may close the link from inside a callback; the library must not
// touch the closed link afterwards.
KillDDEProc gKillFromCallback = nullptr;
void VELLQUIB_CALL KillingOnMessage(const char*, int32_t, int16_t, const char*, int32_t) {
    gRecord.messages.push_back({});
    gKillFromCallback();
}

TEST_F(Dll, ClosingFromInsideACallbackIsSafe) {
    gKillFromCallback = host_.KillDDE;
    ASSERT_EQ(host_.InitDDE("Demo", &OnStatus, &KillingOnMessage, &OnText), 0);
    EXPECT_EQ(host_.QuibRegister("Demo"), 0);  // its notice closes the link
    EXPECT_EQ(gRecord.messages.size(), 1u);
    EXPECT_EQ(host_.IsVellThere(), 0);
    EXPECT_EQ(host_.QuibGetAllText("Demo"), -1);
}

}  // namespace
