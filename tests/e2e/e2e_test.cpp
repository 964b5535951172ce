// QuibDemo.exe against the stand-in host library, driven from outside.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/control_ids.h"
#include "platform/win32/handles.h"
#include "tests/e2e/demo_driver.h"
#include "tests/text/vector_sink.h"
#include "text/avatar_list.h"
#include "vellquib.h"

namespace quib::e2e {
namespace {

// A calm world: no chatter, no busy answers, quick ESP answers, and a
// delivery that still makes the fetch wait.
std::map<std::wstring, std::wstring> CalmWorld() {
    return {{L"VELLQUIB_BUSY_PERCENT", L"0"},
            {L"VELLQUIB_DELIVERY_MS", L"200"},
            {L"VELLQUIB_CHATTER_MS", L"0"},
            {L"VELLQUIB_ESP_REPLY_MS", L"300"},
            {L"VELLQUIB_INIT_RESULT", L"0"}};
}

// The whole content of a file; empty when it cannot be read.
std::string FileText(const std::wstring& path) {
    std::string text;
    const quib::platform::UniqueFileHandle file(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return text;
    }
    char chunk[4096];
    DWORD n = 0;
    while (ReadFile(file.Get(), chunk, sizeof chunk, &n, nullptr) && n > 0) {
        text.append(chunk, n);
    }
    return text;
}

// The calls (">") and callbacks ("<") of a call log, without their times;
// the notes ("!") of whichever library wrote it are left out.
std::vector<std::string> LogCalls(const std::wstring& log) {
    std::vector<std::string> out;
    const std::string text = FileText(log);
    size_t pos = 0;
    for (size_t end; (end = text.find('\n', pos)) != std::string::npos; pos = end + 1) {
        const std::string line = text.substr(pos, end - pos);
        const size_t mark = line.find(' ');
        if (mark != std::string::npos && mark + 1 < line.size() &&
            (line[mark + 1] == '>' || line[mark + 1] == '<')) {
            out.push_back(line.substr(mark + 1));
        }
    }
    return out;
}

// A host that answers from a script instead of the world and logs every call
// and callback; both files lie beside the test program.
class ScriptedHost {
  public:
    ScriptedHost(const std::wstring& name, const std::string& script)
        : script_(DemoDriver::OwnFolder() + name + L".script"),
          log_(DemoDriver::OwnFolder() + name + L".log") {
        DeleteFileW(log_.c_str());
        const quib::platform::UniqueFileHandle file(CreateFileW(script_.c_str(), GENERIC_WRITE, 0,
                                                                nullptr, CREATE_ALWAYS,
                                                                FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (file) {
            WriteFile(file.Get(), script.data(), static_cast<DWORD>(script.size()), &written,
                      nullptr);
        }
    }
    std::map<std::wstring, std::wstring> Environment() const {
        return {{L"VELLQUIB_SCRIPT", script_}, {L"VELLQUIB_LOG", log_}};
    }
    std::vector<std::string> Calls() const { return LogCalls(log_); }

  private:
    std::wstring script_;
    std::wstring log_;
};

constexpr DWORD kWaitMs = 15000;

std::string ToUtf8(const std::wstring& w) {
    std::string out(static_cast<size_t>(w.size() * 3 + 1), '\0');
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), out.data(),
                                      static_cast<int>(out.size()), nullptr, nullptr);
    out.resize(static_cast<size_t>(std::max(n, 0)));
    return out;
}

// QuibDemo.exe with the tracing vellquib.dll beside it, in a folder of their
// own next to the test program (the tracer has the host's file name).
class TracedFolder {
  public:
    TracedFolder() : folder_(DemoDriver::OwnFolder() + L"traced\\") {
        CreateDirectoryW(folder_.c_str(), nullptr);
        const std::wstring bin = DemoDriver::OwnFolder();
        Copy(bin + L"QuibDemo.exe", folder_ + L"QuibDemo.exe");
        Copy(bin + L"tracer\\vellquib.dll", folder_ + L"vellquib.dll");
    }
    const std::wstring& Folder() const { return folder_; }
    // Empty when both files were copied; else what failed.
    const std::string& Failure() const { return failure_; }

  private:
    void Copy(const std::wstring& from, const std::wstring& to) {
        if (!CopyFileW(from.c_str(), to.c_str(), FALSE)) {
            failure_ +=
                "copying " + ToUtf8(from) + " failed with " + std::to_string(GetLastError()) + "; ";
        }
    }

    std::wstring folder_;
    std::string failure_;
};

bool Contains(const std::wstring& text, const std::wstring& part) {
    return text.find(part) != std::wstring::npos;
}

// Position of part in text after position from, or npos.
size_t After(const std::wstring& text, const std::wstring& part, size_t from) {
    return from == std::wstring::npos ? from : text.find(part, from);
}

// The speakers of a fetched text as the program's own scan lists them.
std::vector<std::wstring> SpeakersOf(const std::wstring& text) {
    quib::text::LineTokenizer tokenizer;
    quib::text::test::VectorSink list;
    quib::text::FillAvatarList(tokenizer, list, std::u16string(text.begin(), text.end()));
    std::vector<std::wstring> out;
    for (const std::u16string& name : list.entries) {
        out.emplace_back(name.begin(), name.end());
    }
    return out;
}

// Clicks "&Get Vell Text" until the shown text satisfies pred (the world
// may need a moment, e.g. for an ESP answer).
bool FetchUntil(DemoDriver& demo, const std::function<bool(const std::wstring&)>& pred,
                const std::wstring& what) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < kWaitMs) {
        demo.Click(IDC_cmdGetText);
        if (demo.Poll([&] { return pred(demo.Text(IDC_txtVellText)); }, 1500)) {
            return true;
        }
        if (!demo.Running() || !demo.MessageBoxText().empty()) {
            return false;
        }
    }
    demo.Fail(L"timed out fetching until " + what + L"; txtVellText holds: " +
              demo.Text(IDC_txtVellText));
    return false;
}

// Types the line, takes the first mode with the keyboard, sends it and asks
// for the text at once; false when "&Communicate" never became enabled.
bool AskThenFetch(DemoDriver& demo, const std::wstring& line) {
    demo.Type(IDC_txtText, line);
    demo.Key(IDC_cboCommunicationMode, VK_DOWN);
    if (!demo.WaitFor([&] { return demo.Enabled(IDC_cmdCommunicate); }, kWaitMs,
                      L"\"&Communicate\" to be enabled")) {
        return false;
    }
    demo.Click(IDC_cmdCommunicate);
    demo.Click(IDC_cmdGetText);
    return true;
}

// Fetches until txtVellText shows the line (at the start of a line).
bool FetchUntilShown(DemoDriver& demo, const std::wstring& line, const std::wstring& what) {
    return FetchUntil(
        demo, [&](const std::wstring& t) { return Contains(t, L"\r\n" + line); }, what);
}

// Sends the line shown, then closes the program with "E&xit", which must end
// it with exit code 0.
void SendAndExit(DemoDriver& demo) {
    demo.Click(IDC_cmdCommunicate);
    demo.Click(IDC_cmdExit);
    DWORD code = 99;
    ASSERT_TRUE(demo.WaitForExit(kWaitMs, &code)) << ToUtf8(demo.Failure());
    EXPECT_EQ(code, 0u);
}

// True when the host's log holds the call.
bool Logged(const ScriptedHost& host, const std::string& call) {
    const std::vector<std::string> calls = host.Calls();
    return std::find(calls.begin(), calls.end(), call) != calls.end();
}

#define ASSERT_DRIVEN(demo) ASSERT_TRUE((demo).Failure().empty()) << ToUtf8((demo).Failure())

TEST(EndToEnd, ModeAndTextsDecideWhetherCommunicateIsEnabled) {
    DemoDriver demo(CalmWorld());
    ASSERT_TRUE(demo.Start()) << ToUtf8(demo.Failure());
    const auto expectEnabled = [&](bool enabled, const wchar_t* when) {
        EXPECT_TRUE(demo.WaitFor(
            [&] { return demo.Enabled(IDC_cmdCommunicate) == enabled; }, kWaitMs,
            std::wstring(L"\"&Communicate\" ") + (enabled ? L"enabled " : L"disabled ") + when))
            << ToUtf8(demo.Failure());
    };
    const auto choose = [&](WORD key, int index) {
        demo.Key(IDC_cboCommunicationMode, key);
        EXPECT_TRUE(
            demo.WaitFor([&] { return demo.ComboSelection(IDC_cboCommunicationMode) == index; },
                         kWaitMs, L"mode " + std::to_wstring(index) + L" to be chosen"));
    };

    EXPECT_FALSE(demo.Enabled(IDC_cmdCommunicate));
    demo.Type(IDC_txtText, L"Hi");
    demo.Type(IDC_txtAvatar, L"Edda");
    expectEnabled(false, L"while no mode is chosen");
    choose(VK_DOWN, 0);
    expectEnabled(true, L"for \"Speak\" with a line");
    demo.Clear(IDC_txtText);
    expectEnabled(false, L"for \"Speak\" without a line");
    demo.Type(IDC_txtText, L" ");
    expectEnabled(true, L"for a line of one blank");
    choose(VK_DOWN, 1);
    expectEnabled(true, L"for \"Think\"");
    choose(VK_DOWN, 2);
    expectEnabled(true, L"for \"ESP\" with line and avatar");
    demo.Clear(IDC_txtAvatar);
    expectEnabled(false, L"for \"ESP\" without an avatar");
    choose(VK_UP, 1);
    expectEnabled(true, L"when going back to \"Think\"");

    demo.Click(IDC_cmdExit);
    DWORD code = 99;
    ASSERT_TRUE(demo.WaitForExit(kWaitMs, &code)) << ToUtf8(demo.Failure());
    EXPECT_EQ(code, 0u);
    ASSERT_DRIVEN(demo);
}

TEST(EndToEnd, AUserSpeaksFetchesPicksAnAvatarSendsAnEspAndExits) {
    DemoDriver demo(CalmWorld());
    ASSERT_TRUE(demo.Start()) << ToUtf8(demo.Failure());

    // Registration: the host announces it in the world's text.
    demo.Click(IDC_cmdQuibRegister);

    // "Speak": type a line, choose the first mode with the keyboard, send.
    demo.Type(IDC_txtText, L"Hello from the test");
    EXPECT_FALSE(demo.Enabled(IDC_cmdCommunicate)) << "no mode chosen yet";
    demo.Key(IDC_cboCommunicationMode, VK_DOWN);
    ASSERT_TRUE(demo.WaitFor([&] { return demo.ComboSelection(IDC_cboCommunicationMode) == 0; },
                             kWaitMs, L"\"Speak\" to be chosen"));
    ASSERT_TRUE(demo.WaitFor([&] { return demo.Enabled(IDC_cmdCommunicate); }, kWaitMs,
                             L"\"&Communicate\" to be enabled for \"Speak\""));
    demo.Click(IDC_cmdCommunicate);

    // The line appears in the fetched text, after the registration notice.
    ASSERT_TRUE(FetchUntil(
        demo,
        [](const std::wstring& t) { return Contains(t, L"\r\nVisitor: Hello from the test"); },
        L"the spoken line in the fetched text"))
        << ToUtf8(demo.Failure());
    std::wstring text = demo.Text(IDC_txtVellText);
    EXPECT_NE(After(text, L"Visitor: Hello from the test",
                    text.find(L"<system>: Plug-in QuibDemo registered.")),
              std::wstring::npos)
        << ToUtf8(text);
    EXPECT_EQ(text.rfind(L"<system>: Welcome to Vell.", 0), 0u);
    EXPECT_NE(text.substr(text.size() - 2), L"\r\n") << "the frame was not trimmed";

    // The speakers of the world, in order of first appearance.
    const std::vector<std::wstring> expected = {L"Marisol", L"Tobin", L"Edda", L"Quill",
                                                L"Visitor"};
    EXPECT_EQ(SpeakersOf(text), expected);
    ASSERT_TRUE(demo.WaitFor([&] { return demo.ListItems(IDC_lstAvatars) == expected; }, kWaitMs,
                             L"the avatars in lstAvatars"));

    // "ESP": chosen with the keyboard; without an avatar the button stays off.
    demo.Key(IDC_cboCommunicationMode, VK_DOWN);
    demo.Key(IDC_cboCommunicationMode, VK_DOWN);
    ASSERT_TRUE(demo.WaitFor([&] { return demo.ComboSelection(IDC_cboCommunicationMode) == 2; },
                             kWaitMs, L"\"ESP\" to be chosen"));
    demo.Clear(IDC_txtAvatar);
    ASSERT_TRUE(demo.WaitFor([&] { return !demo.Enabled(IDC_cmdCommunicate); }, kWaitMs,
                             L"\"&Communicate\" to be disabled for ESP without an avatar"));

    // A pick fills txtAvatar and enables the button; the mode stays.
    demo.ClickListItem(IDC_lstAvatars, 3);
    ASSERT_TRUE(demo.WaitFor([&] { return demo.Text(IDC_txtAvatar) == L"Quill"; }, kWaitMs,
                             L"the picked avatar in txtAvatar"));
    ASSERT_TRUE(demo.WaitFor([&] { return demo.Enabled(IDC_cmdCommunicate); }, kWaitMs,
                             L"\"&Communicate\" to be enabled by the pick"));
    EXPECT_EQ(demo.ComboSelection(IDC_cboCommunicationMode), 2);

    demo.Clear(IDC_txtText);
    demo.Type(IDC_txtText, L"Where is the pier?");
    demo.Click(IDC_cmdCommunicate);

    // The ESP and its answer come back in a later fetch.
    ASSERT_TRUE(FetchUntil(
        demo,
        [](const std::wstring& t) {
            return After(t, L"\r\nESP from Quill: ",
                         t.find(L"\r\nESP to Quill: Where is the pier?")) != std::wstring::npos;
        },
        L"Quill's answer to the ESP"))
        << ToUtf8(demo.Failure()) << "\n"
        << ToUtf8(demo.Text(IDC_txtVellText));

    // Unregistered, the next request is answered "not registered"; the
    // program registers again and repeats it.
    demo.Click(IDC_cmdQuibUnregister);
    ASSERT_TRUE(FetchUntil(
        demo,
        [](const std::wstring& t) {
            return After(t, L"<system>: Plug-in QuibDemo registered.",
                         t.find(L"<system>: Plug-in QuibDemo unregistered.")) != std::wstring::npos;
        },
        L"unregistering and registering again"))
        << ToUtf8(demo.Failure());

    // "&Exit" ends the program with exit code 0.
    demo.Click(IDC_cmdExit);
    DWORD code = 99;
    ASSERT_TRUE(demo.WaitForExit(kWaitMs, &code)) << ToUtf8(demo.Failure());
    EXPECT_EQ(code, 0u);
    ASSERT_DRIVEN(demo);
}

// What the window shows at the end of a session.
struct Shown {
    std::wstring text;
    std::vector<std::wstring> avatars;
};

// A session whose calls do not depend on timing, so that its recording
// replays: register, speak, one fetch, a pick of Quill, an ESP to him, a wait
// for his answer, one fetch, exit.
Shown RegisterSpeakFetchPickEspFetchExit(DemoDriver& demo) {
    Shown shown;
    if (!demo.Start()) {
        return shown;
    }
    demo.Click(IDC_cmdQuibRegister);
    demo.Type(IDC_txtText, L"Hello through the tracer");
    demo.Key(IDC_cboCommunicationMode, VK_DOWN);
    demo.WaitFor([&] { return demo.Enabled(IDC_cmdCommunicate); }, kWaitMs,
                 L"\"&Communicate\" to be enabled for \"Speak\"");
    demo.Click(IDC_cmdCommunicate);
    demo.Click(IDC_cmdGetText);
    std::vector<std::wstring> avatars;
    demo.WaitFor(
        [&] {
            avatars = demo.ListItems(IDC_lstAvatars);
            return Contains(demo.Text(IDC_txtVellText), L"Visitor: Hello through the tracer") &&
                   std::find(avatars.begin(), avatars.end(), L"Quill") != avatars.end();
        },
        kWaitMs, L"the spoken line and Quill in the first fetch");
    const auto quill = std::find(avatars.begin(), avatars.end(), L"Quill") - avatars.begin();
    demo.Key(IDC_cboCommunicationMode, VK_DOWN);
    demo.Key(IDC_cboCommunicationMode, VK_DOWN);
    demo.WaitFor([&] { return demo.ComboSelection(IDC_cboCommunicationMode) == 2; }, kWaitMs,
                 L"\"ESP\" to be chosen");
    demo.ClickListItem(IDC_lstAvatars, static_cast<int>(quill));
    demo.WaitFor([&] { return demo.Text(IDC_txtAvatar) == L"Quill"; }, kWaitMs,
                 L"the picked avatar in txtAvatar");
    demo.Clear(IDC_txtText);
    demo.Type(IDC_txtText, L"Where is the pier?");
    demo.WaitFor([&] { return demo.Text(IDC_txtText) == L"Where is the pier?"; }, kWaitMs,
                 L"the ESP's line in txtText");
    demo.Click(IDC_cmdCommunicate);
    // The answer comes 300 ms after the ESP, while the program waits idle.
    Sleep(1500);
    demo.Click(IDC_cmdGetText);
    demo.WaitFor(
        [&] {
            const std::wstring t = demo.Text(IDC_txtVellText);
            return After(t, L"\r\nESP from Quill: ",
                         t.find(L"\r\nESP to Quill: Where is the pier?")) != std::wstring::npos;
        },
        kWaitMs, L"Quill's answer in the second fetch");
    shown.text = demo.Text(IDC_txtVellText);
    shown.avatars = demo.ListItems(IDC_lstAvatars);
    demo.Click(IDC_cmdExit);
    DWORD code = 99;
    if (demo.WaitForExit(kWaitMs, &code) && code != 0) {
        demo.Fail(L"exit code " + std::to_wstring(code));
    }
    return shown;
}

TEST(EndToEnd, ASessionThroughTheTracerIsUnchangedAndReplaysFromItsRecording) {
    // A busy world, so that requests are repeated; no chatter, so that the
    // calls depend on the seed alone.
    auto world = CalmWorld();
    world[L"VELLQUIB_BUSY_PERCENT"] = L"40";
    world[L"VELLQUIB_SEED"] = L"21";
    const std::wstring bin = DemoDriver::OwnFolder();
    const std::wstring straightLog = bin + L"straight.log", hostLog = bin + L"traced_host.log",
                       traceLog = bin + L"traced.log", recording = bin + L"traced.script",
                       replayLog = bin + L"replayed.log";
    for (const std::wstring& f : {straightLog, hostLog, traceLog, recording, replayLog}) {
        DeleteFileW(f.c_str());
    }

    auto straightEnv = world;
    straightEnv[L"VELLQUIB_LOG"] = straightLog;
    DemoDriver straight(straightEnv);
    const Shown expected = RegisterSpeakFetchPickEspFetchExit(straight);
    ASSERT_DRIVEN(straight);
    ASSERT_NE(expected.text.find(L"went through on try"), std::wstring::npos)
        << "no request was repeated:\n"
        << ToUtf8(expected.text);

    // The tracer in front of the same world: the same window, and its log
    // holds what the stand-in's own log of the run holds.
    const TracedFolder traced;
    ASSERT_EQ(traced.Failure(), "");
    auto tracedEnv = world;
    tracedEnv[L"VELLQUIB_TRACE_HOST"] = bin + L"vellquib.dll";
    tracedEnv[L"VELLQUIB_LOG"] = hostLog;
    tracedEnv[L"VELLQUIB_TRACE_LOG"] = traceLog;
    tracedEnv[L"VELLQUIB_TRACE_RECORD"] = recording;
    DemoDriver throughTracer(tracedEnv, traced.Folder());
    const Shown shown = RegisterSpeakFetchPickEspFetchExit(throughTracer);
    ASSERT_DRIVEN(throughTracer);
    EXPECT_EQ(ToUtf8(shown.text), ToUtf8(expected.text));
    EXPECT_EQ(shown.avatars, expected.avatars);
    const std::vector<std::string> calls = LogCalls(traceLog);
    EXPECT_EQ(calls, LogCalls(hostLog));
    EXPECT_EQ(calls, LogCalls(straightLog));

    // The stand-in answering from the recording: the same calls, statuses,
    // callbacks and window.
    DemoDriver replayed({{L"VELLQUIB_SCRIPT", recording}, {L"VELLQUIB_LOG", replayLog}});
    const Shown replayedShown = RegisterSpeakFetchPickEspFetchExit(replayed);
    ASSERT_DRIVEN(replayed);
    EXPECT_EQ(ToUtf8(replayedShown.text), ToUtf8(expected.text));
    EXPECT_EQ(replayedShown.avatars, expected.avatars);
    EXPECT_EQ(LogCalls(replayLog), calls);
    EXPECT_EQ(FileText(replayLog).find("no answer left"), std::string::npos) << FileText(replayLog);
}

TEST(EndToEnd, ClosingTheWindowEndsTheProgram) {
    DemoDriver demo(CalmWorld());
    ASSERT_TRUE(demo.Start()) << ToUtf8(demo.Failure());
    PostMessageW(demo.Window(), WM_CLOSE, 0, 0);
    DWORD code = 99;
    ASSERT_TRUE(demo.WaitForExit(kWaitMs, &code)) << ToUtf8(demo.Failure());
    EXPECT_EQ(code, 0u);
}

TEST(EndToEnd, ABusyHostIsAskedAgainUntilTheLineGoesThrough) {
    // Not registered at first, then busy twice; the fetch that follows
    // brings three lines.
    const ScriptedHost host(L"busy_host",
                            "QuibCommunicate 10\n"
                            "QuibCommunicate 6\n"
                            "QuibCommunicate 6\n"
                            "QuibCommunicate 0\n"
                            "QuibGetAllText 0\n"
                            "  text after 200 \"Edda: Anyone here?\" \"ESP from Quill: Hi\" "
                            "\"Visitor: Anyone there?\"\n");
    DemoDriver demo(host.Environment());
    ASSERT_TRUE(demo.Start()) << ToUtf8(demo.Failure());
    ASSERT_TRUE(AskThenFetch(demo, L"Anyone there?"));
    ASSERT_TRUE(demo.WaitFor(
        [&] {
            return demo.Text(IDC_txtVellText) ==
                   L"Edda: Anyone here?\r\nESP from Quill: Hi\r\nVisitor: Anyone there?";
        },
        kWaitMs, L"the scripted text in txtVellText"))
        << ToUtf8(demo.Failure());
    const std::vector<std::wstring> speakers = {L"Edda", L"Quill", L"Visitor"};
    ASSERT_TRUE(demo.WaitFor([&] { return demo.ListItems(IDC_lstAvatars) == speakers; }, kWaitMs,
                             L"the speakers in lstAvatars"));
    demo.Click(IDC_cmdExit);
    DWORD code = 99;
    ASSERT_TRUE(demo.WaitForExit(kWaitMs, &code)) << ToUtf8(demo.Failure());
    EXPECT_EQ(code, 0u);

    // What the program sent, and the statuses it acted on, in order.
    const std::string line = "> QuibCommunicate(\"QuibDemo\", 0, \"\", \"Anyone there?\")";
    const std::vector<std::string> expected = {
        "> InitDDE(\"QuibDemo\", onStatus, onMessage, onText)",
        line,
        "< StatusCallback(\"10\")",
        "> QuibRegister(\"QuibDemo\")",
        line,
        "< StatusCallback(\"6\")",
        line,
        "< StatusCallback(\"6\")",
        line,
        "< StatusCallback(\"0\")",
        "> QuibGetAllText(\"QuibDemo\")",
        "< StatusCallback(\"0\")",
        "< TextCallback(\"Edda: Anyone here?\\r\\nESP from Quill: Hi\\r\\nVisitor: Anyone "
        "there?\\r\\n0003\\0\", 69)",
        "> KillDDE()",
    };
    EXPECT_EQ(host.Calls(), expected);
}

TEST(EndToEnd, ClosingTheWindowDuringAFetchEndsTheProgram) {
    auto env = CalmWorld();
    env[L"VELLQUIB_BUSY_PERCENT"] = L"0";
    env[L"VELLQUIB_DELIVERY_MS"] = L"60000";  // the text never comes in time
    DemoDriver demo(env);
    ASSERT_TRUE(demo.Start()) << ToUtf8(demo.Failure());
    demo.Click(IDC_cmdQuibRegister);
    demo.Click(IDC_cmdGetText);
    // The fetch is waiting now; the window still answers while it waits.
    Sleep(300);
    EXPECT_TRUE(demo.Text(IDC_txtVellText).empty());
    PostMessageW(demo.Window(), WM_CLOSE, 0, 0);
    DWORD code = 99;
    ASSERT_TRUE(demo.WaitForExit(5000, &code)) << ToUtf8(demo.Failure());
    EXPECT_EQ(code, 0u);
}

TEST(EndToEnd, AHostLinkThatCannotOpenIsReportedAndEndsTheProgram) {
    // The stand-in told to fail, and the tracer with no host library beside
    // it (vellquib.host.dll, looked for when VELLQUIB_TRACE_HOST is empty).
    auto failing = CalmWorld();
    failing[L"VELLQUIB_INIT_RESULT"] = L"1";
    const TracedFolder traced;
    ASSERT_EQ(traced.Failure(), "");
    const std::wstring traceLog = DemoDriver::OwnFolder() + L"no_host.log";
    DeleteFileW(traceLog.c_str());
    const std::map<std::wstring, std::wstring> noHost = {{L"VELLQUIB_TRACE_HOST", L""},
                                                         {L"VELLQUIB_TRACE_LOG", traceLog}};
    // A host client required, and none running.
    auto hostRequired = CalmWorld();
    hostRequired[L"VELLQUIB_HOST"] = L"required";
    const std::pair<std::map<std::wstring, std::wstring>, std::wstring> cases[] = {
        {failing, DemoDriver::OwnFolder()},
        {noHost, traced.Folder()},
        {hostRequired, DemoDriver::OwnFolder()}};
    for (const auto& [env, folder] : cases) {
        SCOPED_TRACE(ToUtf8(folder));
        DemoDriver demo(env, folder);
        ASSERT_TRUE(demo.Start(false)) << ToUtf8(demo.Failure());
        std::wstring box;
        ASSERT_TRUE(demo.WaitFor([&] { return !(box = demo.MessageBoxText()).empty(); }, 30000,
                                 L"the start-up error"))
            << ToUtf8(demo.Failure());
        EXPECT_TRUE(Contains(box, L"Vell QUIB Demo")) << ToUtf8(box);
        EXPECT_TRUE(Contains(box, L"10001")) << ToUtf8(box);
        EXPECT_TRUE(Contains(box, L"Failed to initialize DDE layer")) << ToUtf8(box);
        EXPECT_EQ(demo.FindMainWindow(), nullptr) << "the window was shown";
        ASSERT_TRUE(demo.DismissMessageBox());
        DWORD code = 0;
        ASSERT_TRUE(demo.WaitForExit(kWaitMs, &code)) << ToUtf8(demo.Failure());
    }
    // The tracer says why, with the result it gave.
    const std::string log = FileText(traceLog);
    EXPECT_NE(log.find("! cannot load the host library "), std::string::npos) << log;
    EXPECT_NE(log.find("vellquib.host.dll: system error 126"), std::string::npos) << log;
    EXPECT_NE(log.find("; InitDDE returns 5\n"), std::string::npos) << log;
}

// --- Several plug-ins in the world of a running vellhost.exe ---

// A program of the build's folder started with extra variables (its output
// into a file, when one is given), killed at the end if it still runs.
class Program {
  public:
    Program(const std::wstring& exe, const std::map<std::wstring, std::wstring>& environment,
            const std::wstring& output = {}) {
        std::map<std::wstring, std::wstring> saved;
        for (const auto& [name, value] : environment) {
            wchar_t old[1024];
            const DWORD n = GetEnvironmentVariableW(name.c_str(), old, 1024);
            saved[name] = n > 0 && n < 1024 ? std::wstring(old, n) : L"";
            SetEnvironmentVariableW(name.c_str(), value.c_str());
        }
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        if (!output.empty()) {
            output_.Reset(CreateFileW(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        }
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        if (output_) {
            si.dwFlags = STARTF_USESTDHANDLES;
            si.hStdOutput = output_.Get();
            si.hStdError = output_.Get();
        }
        const std::wstring path = DemoDriver::OwnFolder() + exe;
        std::wstring commandLine = L"\"" + path + L"\"";
        PROCESS_INFORMATION pi = {};
        if (CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr,
                           output_ ? TRUE : FALSE, 0, nullptr, DemoDriver::OwnFolder().c_str(), &si,
                           &pi)) {
            process_.Reset(pi.hProcess);
            const quib::platform::UniqueKernelHandle thread(pi.hThread);
        }
        for (const auto& [name, value] : saved) {
            SetEnvironmentVariableW(name.c_str(), value.empty() ? nullptr : value.c_str());
        }
    }
    ~Program() { Kill(); }
    bool Started() const { return static_cast<bool>(process_); }
    // Ends the program at once, as a crash would.
    void Kill() {
        if (process_ && WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT) {
            TerminateProcess(process_.Get(), 99);
            WaitForSingleObject(process_.Get(), 5000);
        }
    }
    bool WaitForExit(DWORD ms) {
        return process_ && WaitForSingleObject(process_.Get(), ms) == WAIT_OBJECT_0;
    }

  private:
    quib::platform::UniqueKernelHandle process_;
    quib::platform::UniqueFileHandle output_;
};

// vellhost.exe, calm, and waited for until plug-ins can find it.
class RunningHost {
  public:
    RunningHost() : program_(L"vellhost.exe", CalmWorld()) {
        const DWORD start = GetTickCount();
        while (!FindWindowW(L"VellHost.Wire", nullptr) && GetTickCount() - start < 30000) {
            Sleep(50);
        }
    }
    bool Ready() const { return program_.Started() && FindWindowW(L"VellHost.Wire", nullptr); }
    void Kill() { program_.Kill(); }

  private:
    Program program_;
};

std::map<std::wstring, std::wstring> Joined(const wchar_t* user) {
    auto env = CalmWorld();
    env[L"VELLQUIB_USER"] = user;
    env[L"VELLQUIB_HOST"] = L"required";
    return env;
}

// Chooses a mode with the keyboard and sends the text (to the avatar for ESP).
void Say(DemoDriver& demo, int mode, const std::wstring& avatar, const std::wstring& text) {
    while (demo.ComboSelection(IDC_cboCommunicationMode) != mode && demo.Failure().empty()) {
        const int now = demo.ComboSelection(IDC_cboCommunicationMode);
        demo.Key(IDC_cboCommunicationMode, now < mode ? VK_DOWN : VK_UP);
        demo.WaitFor([&] { return demo.ComboSelection(IDC_cboCommunicationMode) != now; }, kWaitMs,
                     L"the mode to change");
    }
    demo.Clear(IDC_txtAvatar);
    demo.Type(IDC_txtAvatar, avatar);
    demo.Clear(IDC_txtText);
    demo.Type(IDC_txtText, text);
    demo.WaitFor([&] { return demo.Enabled(IDC_cmdCommunicate); }, kWaitMs,
                 L"\"&Communicate\" to be enabled");
    demo.Click(IDC_cmdCommunicate);
}

TEST(EndToEnd, TwoDemosAndTheExampleMeetInOneHostWorld) {
    RunningHost host;
    ASSERT_TRUE(host.Ready()) << "vellhost.exe did not start";
    DemoDriver alice(Joined(L"Alice"));
    DemoDriver bob(Joined(L"Bob"));
    ASSERT_TRUE(alice.Start()) << ToUtf8(alice.Failure());
    ASSERT_TRUE(bob.Start()) << ToUtf8(bob.Failure());
    alice.Click(IDC_cmdQuibRegister);
    bob.Click(IDC_cmdQuibRegister);

    // A line of one plug-in reaches the other; an ESP only its addressee.
    Say(alice, 0, L"", L"Hello from Alice");
    ASSERT_TRUE(FetchUntilShown(bob, L"Alice: Hello from Alice", L"Alice's line at Bob"))
        << ToUtf8(bob.Failure());
    Say(bob, 2, L"alice", L"psst, Bob here");
    ASSERT_TRUE(FetchUntilShown(alice, L"ESP from Bob: psst, Bob here", L"Bob's ESP at Alice"))
        << ToUtf8(alice.Failure());
    ASSERT_TRUE(FetchUntilShown(bob, L"ESP to alice: psst, Bob here", L"Bob's ESP in his own text"))
        << ToUtf8(bob.Failure());
    EXPECT_FALSE(Contains(bob.Text(IDC_txtVellText), L"Nobody called")) << "the ESP went nowhere";

    // The C example joins as a third plug-in: a world of its own user, whose
    // line the others see; the ESP between the two was not for it.
    const std::wstring output = DemoDriver::OwnFolder() + L"joined_example.txt";
    {
        auto env = Joined(L"Carol");
        Program example(L"hello_plugin.exe", env, output);
        ASSERT_TRUE(example.WaitForExit(kWaitMs));
    }
    const std::string printed = FileText(output);
    EXPECT_NE(printed.find("You are here as Carol."), std::string::npos) << printed;
    EXPECT_EQ(printed.find("psst"), std::string::npos) << printed;
    ASSERT_TRUE(FetchUntilShown(alice, L"Carol: Hello from the example plug-in",
                                L"the example's line at Alice"))
        << ToUtf8(alice.Failure());
    ASSERT_DRIVEN(alice);
    ASSERT_DRIVEN(bob);
}

// An export of a library, as the type of its function.
template <typename Proc>
Proc Exported(HMODULE library, const char* name) {
    return reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

// The last status a plug-in of the test's own process was given.
std::string gProbeStatus;
bool gProbeStatusCame = false;
void VELLQUIB_CALL ProbeStatus(const char* status, int32_t length) {
    gProbeStatus.assign(status, static_cast<size_t>(length));
    gProbeStatusCame = true;
}
void VELLQUIB_CALL IgnoreText(const char*, int32_t) {}

TEST(EndToEnd, AHostKilledMidSessionLeavesThePlugInResponsive) {
    auto host = std::make_unique<RunningHost>();
    ASSERT_TRUE(host->Ready()) << "vellhost.exe did not start";
    const std::wstring log = DemoDriver::OwnFolder() + L"host_killed.log";
    DeleteFileW(log.c_str());
    auto env = Joined(L"Alice");
    env[L"VELLQUIB_LOG"] = log;
    DemoDriver demo(env);
    ASSERT_TRUE(demo.Start()) << ToUtf8(demo.Failure());
    demo.Click(IDC_cmdQuibRegister);
    Say(demo, 0, L"", L"Before the host went");
    ASSERT_TRUE(FetchUntilShown(demo, L"Alice: Before the host went", L"the line before the kill"))
        << ToUtf8(demo.Failure());

    // A plug-in of this process joins too, through the library's exports.
    const HMODULE library = LoadLibraryW((DemoDriver::OwnFolder() + L"vellquib.dll").c_str());
    ASSERT_NE(library, nullptr);
    const auto init = Exported<InitDDEProc>(library, "InitDDE");
    const auto kill = Exported<KillDDEProc>(library, "KillDDE");
    const auto reg = Exported<QuibRegisterProc>(library, "QuibRegister");
    const auto say = Exported<QuibCommunicateProc>(library, "QuibCommunicate");
    const auto fetch = Exported<QuibGetAllTextProc>(library, "QuibGetAllText");
    const auto there = Exported<IsVellThereProc>(library, "IsVellThere");
    ASSERT_TRUE(init && kill && reg && say && fetch && there);
    std::string& status = gProbeStatus;
    bool& statusCame = gProbeStatusCame;
    const QuibStatusCallback onStatus = &ProbeStatus;
    const auto speak = [&](const char* line) {
        char avatar[] = "";
        std::string message = line;
        statusCame = false;
        return say("Probe", 0, avatar, message.data());
    };
    // Its rules are checked: a text delivery left waiting at the host while
    // the thread sleeps is reported as it is in the library's own world.
    const std::wstring probeLog = DemoDriver::OwnFolder() + L"host_killed_probe.log";
    DeleteFileW(probeLog.c_str());
    SetEnvironmentVariableW(L"VELLQUIB_BUSY_PERCENT", L"0");
    SetEnvironmentVariableW(L"VELLQUIB_CHECK", L"1");
    SetEnvironmentVariableW(L"VELLQUIB_LOG", probeLog.c_str());
    ASSERT_EQ(init("Probe", onStatus, nullptr, &IgnoreText), 0);
    EXPECT_EQ(reg("Probe"), 0);
    EXPECT_EQ(speak("joined"), 0);
    EXPECT_TRUE(statusCame && status == "0");
    EXPECT_EQ(fetch("Probe"), 0);
    Sleep(2500);  // the delivery is due in 200 ms, the loop's bound is 2 s
    EXPECT_EQ(there(), 1);
    EXPECT_NE(FileText(probeLog).find("VQ-NO-MESSAGE-LOOP"), std::string::npos)
        << FileText(probeLog);

    host->Kill();
    EXPECT_EQ(there(), 0);
    const DWORD start = GetTickCount();
    // The request after the host went reports no status, within the bound;
    // the link closes and opens again, on the stand-in's own world now.
    EXPECT_EQ(speak("after the host went"), -1);
    EXPECT_FALSE(statusCame);
    EXPECT_LE(GetTickCount() - start, 2500u);
    EXPECT_EQ(kill(), 0);
    ASSERT_EQ(init("Probe", onStatus, nullptr, nullptr), 0);
    EXPECT_EQ(reg("Probe"), 0);
    EXPECT_EQ(speak("alone again"), 0);
    EXPECT_TRUE(statusCame && status == "0");
    EXPECT_EQ(kill(), 0);
    for (const wchar_t* name : {L"VELLQUIB_BUSY_PERCENT", L"VELLQUIB_CHECK", L"VELLQUIB_LOG"}) {
        SetEnvironmentVariableW(name, nullptr);
    }
    FreeLibrary(library);

    Say(demo, 0, L"", L"After the host went");
    demo.Click(IDC_cmdGetText);
    // Every request returns at once or within the bound; the window answers.
    std::string calls;
    EXPECT_TRUE(demo.WaitFor(
        [&] {
            calls = FileText(log);
            return calls.find("! the host vellhost.exe is gone") != std::string::npos;
        },
        10000, L"the library to find the host gone"))
        << calls;
    EXPECT_TRUE(demo.WaitFor([&] { return demo.Enabled(IDC_cmdGetText); }, 10000,
                             L"the window to answer after the host went"));
    EXPECT_LT(GetTickCount() - start, 10000u);
    EXPECT_TRUE(demo.Running());
    PostMessageW(demo.Window(), WM_CLOSE, 0, 0);
    DWORD code = 99;
    ASSERT_TRUE(demo.WaitForExit(kWaitMs, &code)) << ToUtf8(demo.Failure());
    EXPECT_EQ(code, 0u);
}

// A whole session with the stand-in's rule checker on: QuibDemo breaks only
// the rules the interface header documents under "QuibDemo" (a request
// without a status is repeated after a stale busy status), and nothing else.
TEST(EndToEnd, WithChecksOnASessionBreaksOnlyTheDocumentedRules) {
    ScriptedHost host(L"checked_session",
                      "QuibCommunicate 10\n"
                      "QuibCommunicate 6\n"
                      "QuibCommunicate -\n"
                      "QuibCommunicate 0\n"
                      "  message now \"Visitor\" 1 \"Anyone there?\"\n"
                      "QuibGetAllText 0\n"
                      "  text after 200 \"Edda: Anyone here?\" \"Visitor: Anyone there?\"\n"
                      "QuibCommunicate 0\n"
                      "  message now \"Edda\" 4 \"Over here.\"\n");
    auto env = host.Environment();
    env[L"VELLQUIB_CHECK"] = L"1";
    DemoDriver demo(env);
    ASSERT_TRUE(demo.Start()) << ToUtf8(demo.Failure());
    ASSERT_TRUE(AskThenFetch(demo, L"Anyone there?"));
    const std::vector<std::wstring> speakers = {L"Edda", L"Visitor"};
    ASSERT_TRUE(demo.WaitFor([&] { return demo.ListItems(IDC_lstAvatars) == speakers; }, kWaitMs,
                             L"the speakers in lstAvatars"))
        << ToUtf8(demo.Failure());
    demo.Key(IDC_cboCommunicationMode, VK_DOWN);
    demo.Key(IDC_cboCommunicationMode, VK_DOWN);
    demo.ClickListItem(IDC_lstAvatars, 0);
    ASSERT_TRUE(demo.WaitFor([&] { return demo.Text(IDC_txtAvatar) == L"Edda"; }, kWaitMs,
                             L"the picked avatar in txtAvatar"));
    demo.Clear(IDC_txtText);
    demo.Type(IDC_txtText, L"Over here.");
    ASSERT_TRUE(demo.WaitFor(
        [&] {
            return demo.ComboSelection(IDC_cboCommunicationMode) == 2 &&
                   demo.Enabled(IDC_cmdCommunicate);
        },
        kWaitMs, L"\"&Communicate\" to be enabled for the ESP"));
    ASSERT_NO_FATAL_FAILURE(SendAndExit(demo));

    EXPECT_TRUE(Logged(host, "> QuibCommunicate(\"QuibDemo\", 2, \"Edda\", \"Over here.\")"));
    // The ids the checker named in the log.
    const std::string log = FileText(DemoDriver::OwnFolder() + L"checked_session.log");
    std::vector<std::string> ids;
    for (size_t at = log.find("VQ-"); at != std::string::npos; at = log.find("VQ-", at + 1)) {
        size_t end = at + 3;
        while (end < log.size() &&
               (std::isupper(static_cast<unsigned char>(log[end])) || log[end] == '-')) {
            ++end;
        }
        const std::string id = log.substr(at, end - at);
        if (std::find(ids.begin(), ids.end(), id) == ids.end()) {
            ids.push_back(id);
        }
    }
    EXPECT_EQ(ids, std::vector<std::string>{"VQ-RETRY-WITHOUT-STATUS"}) << log;
    EXPECT_NE(log.find("warning VQ-RETRY-WITHOUT-STATUS: QuibCommunicate(\"QuibDemo\", 0, \"\", "
                       "\"Anyone there?\") repeats the request that returned without a status"),
              std::string::npos)
        << log;
}

// Run by ctest under code page 1251 (Wine with a Russian locale), and there
// only: it checks that it got it. The host's bytes are Cyrillic in that code
// page; the names differ in case only ("АННА", "ЁЖИК") or by "ESP from ".
TEST(CodePage1251, CyrillicSpeakersAreShownListedAndPicked) {
    ASSERT_EQ(GetACP(), 1251u) << "run with QUIB_WINE_LANG=ru_RU.UTF-8";
    // The script's escapes stand for the host's bytes; "junk" lies after the NUL.
    const ScriptedHost host(L"cp1251_host", R"(QuibGetAllText 0
  raw "\xC0\xED\xED\xE0: \xEF\xF0\xE8\xE2\xE5\xF2\r\n\xC1\xEE\xF0\xE8\xF1: \xE4\xE0\r\n\xC0\xCD\xCD\xC0: \xF1\xED\xEE\xE2\xE0\r\nESP from \xA8\xE6\xE8\xEA: \xF2\xF1\xF1\r\n\xA8\xC6\xC8\xCA: \xEE\xE9\r\nBob: hi\r\n0006\0junk"
QuibCommunicate 0
)");
    DemoDriver demo(host.Environment());
    ASSERT_TRUE(demo.Start()) << ToUtf8(demo.Failure());
    demo.Click(IDC_cmdGetText);
    ASSERT_TRUE(demo.WaitFor(
        [&] {
            return demo.Text(IDC_txtVellText) ==
                   L"Анна: привет\r\nБорис: да\r\nАННА: снова\r\nESP from Ёжик: тсс\r\n"
                   L"ЁЖИК: ой\r\nBob: hi";
        },
        kWaitMs, L"the Cyrillic text in txtVellText"))
        << ToUtf8(demo.Failure());
    const std::vector<std::wstring> speakers = {L"Анна", L"Борис", L"Ёжик", L"Bob"};
    ASSERT_TRUE(demo.WaitFor([&] { return demo.ListItems(IDC_lstAvatars) == speakers; }, kWaitMs,
                             L"the Cyrillic speakers in lstAvatars"))
        << ToUtf8(demo.Failure());

    demo.ClickListItem(IDC_lstAvatars, 2);
    ASSERT_TRUE(demo.WaitFor([&] { return demo.Text(IDC_txtAvatar) == L"Ёжик"; }, kWaitMs,
                             L"the picked avatar in txtAvatar"));
    demo.Key(IDC_cboCommunicationMode, VK_DOWN);
    demo.Key(IDC_cboCommunicationMode, VK_DOWN);
    demo.Key(IDC_cboCommunicationMode, VK_DOWN);
    ASSERT_TRUE(demo.WaitFor([&] { return demo.ComboSelection(IDC_cboCommunicationMode) == 2; },
                             kWaitMs, L"\"ESP\" to be chosen"));
    demo.Type(IDC_txtText, L"Привет");
    ASSERT_TRUE(demo.WaitFor([&] { return demo.Enabled(IDC_cmdCommunicate); }, kWaitMs,
                             L"\"&Communicate\" to be enabled for the ESP"));
    ASSERT_NO_FATAL_FAILURE(SendAndExit(demo));
    // The ESP went out in the host's code page.
    EXPECT_TRUE(Logged(host,
                       "> QuibCommunicate(\"QuibDemo\", 2, \"\\xA8\\xE6\\xE8\\xEA\", "
                       "\"\\xCF\\xF0\\xE8\\xE2\\xE5\\xF2\")"));
}

}  // namespace
}  // namespace quib::e2e
