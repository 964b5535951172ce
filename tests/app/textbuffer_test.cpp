// The text-buffer commands: the wait of a fetch, the list box the avatar scan
// fills, the visible form of a text with NULs, and the fetch and pick
// commands of the window, driven through a scripted fake host.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/avatar_listbox.h"
#include "app/control_ids.h"
#include "app/frmDemo.h"
#include "app/text_wait.h"
#include "app/visible_text.h"
#include "bridge/modQUIB.h"
#include "tests/app/window_harness.h"
#include "tests/support/fake_host.h"

namespace {

using namespace std::chrono_literals;
using quib::frmDemo;
using quib::frmDemoOptions;
using quib::test::FakeHost;

// --- Helpers -------------------------------------------------------------------

std::optional<int> PumpPlain() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            return static_cast<int>(msg.wParam);
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return std::nullopt;
}

void DrainQueue() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
}

// A hidden window that runs posted actions, the way a host library delivers
// text later through a message to a window of its own.
class Poster {
  public:
    Poster() {
        static const ATOM cls = [] {
            WNDCLASSW wc{};
            wc.lpfnWndProc = &Proc;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.lpszClassName = L"QuibTest.Poster";
            return RegisterClassW(&wc);
        }();
        (void)cls;
        hwnd_ = CreateWindowW(L"QuibTest.Poster", L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
    }
    ~Poster() {
        if (IsWindow(hwnd_)) {
            DestroyWindow(hwnd_);
        }
    }
    void Post(std::function<void()> action) {
        actions_.push_back(std::move(action));
        PostMessageW(hwnd_, WM_APP, 0, reinterpret_cast<LPARAM>(&actions_.back()));
    }

  private:
    static LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
        if (m == WM_APP) {
            (*reinterpret_cast<std::function<void()>*>(l))();
            return 0;
        }
        return DefWindowProcW(h, m, w, l);
    }
    HWND hwnd_;
    std::deque<std::function<void()>> actions_;
};

double ThreadCpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    auto value = [](FILETIME f) {
        return static_cast<double>((static_cast<uint64_t>(f.dwHighDateTime) << 32) |
                                   f.dwLowDateTime) /
               1e7;
    };
    return value(kernel) + value(user);
}

// --- Visible text --------------------------------------------------------------

TEST(VisibleText, EveryNulBecomesTheSymbolAndNothingElseChanges) {
    const struct {
        std::u16string in;
        std::u16string out;
    } cases[] = {
        {u"", u""},
        {u"Bob: hi\r\nAl: yo", u"Bob: hi\r\nAl: yo"},
        {std::u16string(u"\0", 1), u"\u2400"},
        {std::u16string(u"ab\0c\0\0", 6), u"ab\u2400c\u2400\u2400"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(quib::app::VisibleText(c.in), c.out);
    }
}

// --- The list box as the scan's list ----------------------------------------------

class ListBoxTest : public ::testing::Test {
  protected:
    void SetUp() override {
        list_ = CreateWindowW(L"LISTBOX", L"", WS_OVERLAPPED | LBS_NOTIFY, 0, 0, 100, 100, nullptr,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(list_, nullptr);
    }
    void TearDown() override { DestroyWindow(list_); }
    LRESULT Count() const { return SendMessageW(list_, LB_GETCOUNT, 0, 0); }
    HWND list_ = nullptr;
};

TEST_F(ListBoxTest, SinkAppendsShowsNulsVisiblyAndKeepsTheNamesForComparison) {
    quib::app::ListBoxAvatarSink sink(list_);
    sink.Append(u"Bob");
    sink.Append(std::u16string(u"a\0b", 3));
    sink.Append(u"");
    ASSERT_EQ(Count(), 3);
    EXPECT_EQ(sink.Count(), 3);
    EXPECT_EQ(quib::app::ListBoxEntry(list_, 1), u"a\u2400b");
    EXPECT_EQ(sink.Entry(1), std::u16string(u"a\0b", 3));
    EXPECT_EQ(sink.Entry(2), u"");
    EXPECT_EQ(sink.Entry(3), u"");  // past the end
    sink.Clear();
    EXPECT_EQ(Count(), 0);
    EXPECT_EQ(sink.Count(), 0);
}

TEST_F(ListBoxTest, EntryOfAMissingIndexIsEmpty) {
    EXPECT_EQ(quib::app::ListBoxEntry(list_, -1), u"");
    EXPECT_EQ(quib::app::ListBoxEntry(list_, 0), u"");
}

TEST(ListBoxBulkFill, ReservesOneEntryPerLineUpToTheListLimit) {
    std::u16string many;
    for (int i = 0; i < 40000; ++i) {
        many += u"x\r\n";
    }
    const struct {
        std::u16string text;
        size_t entries;
    } cases[] = {
        {u"", 1},           {u"Bob: a", 1},         {u"Bob: a\r\nAl: b", 2},
        {u"Bob: a\r\n", 2}, {u"a\r\n\r\nb\r\n", 4}, {many, 32768},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(quib::app::ListBoxBulkFill::ReservedEntries(c.text), c.entries);
    }
}

// --- The wait ---------------------------------------------------------------------

class TextWaitTest : public ::testing::Test {
  protected:
    void SetUp() override {
        DrainQueue();
        FakeHost::Get().Reset();
    }
    void TearDown() override { DrainQueue(); }

    quib::app::TextWaitEnd Wait(std::chrono::milliseconds timeout, HWND window = nullptr) {
        quib::app::TextWaitHooks hooks;
        if (window) {
            hooks.windowClosed = [window] { return !IsWindow(window); };
        }
        hooks.pumpOnce = [this] {
            ++passes_;
            return PumpPlain();
        };
        return quib::app::WaitForText(quib::modQUIB::State().gTextDeliveries, timeout, hooks);
    }
    int passes_ = 0;
};

TEST_F(TextWaitTest, NoDeliveryEndsAtTheTimeOutWithoutSpinning) {
    const auto start = std::chrono::steady_clock::now();
    const double cpuBefore = ThreadCpuSeconds();
    EXPECT_EQ(Wait(600ms), quib::app::TextWaitEnd::TimedOut);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, 600ms);
    EXPECT_LT(elapsed, 3s);
    EXPECT_LT(ThreadCpuSeconds() - cpuBefore, 0.1);
    EXPECT_LE(passes_, 5);
}

TEST_F(TextWaitTest, QuitMetByTheWaitIsPostedAgain) {
    PostQuitMessage(3);
    EXPECT_EQ(Wait(5s), quib::app::TextWaitEnd::Quit);
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 3u);
}

// --- The commands of the window ----------------------------------------------------

using Entries = std::vector<std::u16string>;

Entries EntriesOf(HWND list) {
    Entries entries;
    const LRESULT n = SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < n; ++i) {
        entries.push_back(quib::app::ListBoxEntry(list, static_cast<int32_t>(i)));
    }
    return entries;
}

std::u16string TextOf(HWND control) {
    return quib::test::WindowHarness::Text(control);
}

class FetchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        frmDemoOptions options = h_.Options();
        options.textWaitTimeout = timeout_;
        options.reportFatal = [this](const quib::NumberedError& e) {
            fatal_.push_back(e.Number());
            fatalShownText_ = TextOf(W().txtVellText);
        };
        ASSERT_TRUE(h_.Start(options));
    }

    frmDemo& W() { return h_.Form(); }
    void ClickGetText() { h_.Click(W().cmdGetText); }
    // Fetches a text delivered during the request.
    void FetchNow(const std::string& bytes) {
        FakeHost::Get().onGetAllText = [bytes] { FakeHost::Get().DeliverText(bytes); };
        ClickGetText();
        FakeHost::Get().onGetAllText = nullptr;
    }
    void SelectMode(int index) {
        SendMessageW(W().cboCommunicationMode, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
        SendMessageW(W().Handle(), WM_COMMAND, MAKEWPARAM(IDC_cboCommunicationMode, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(W().cboCommunicationMode));
    }
    // Selects an entry as the user would, which the list reports as a Click.
    void PickIndex(int index) {
        SendMessageW(W().lstAvatars, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
        SendMessageW(W().Handle(), WM_COMMAND, MAKEWPARAM(IDC_lstAvatars, LBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(W().lstAvatars));
    }
    bool CommunicateEnabled() { return IsWindowEnabled(W().cmdCommunicate) != FALSE; }
    std::vector<std::u16string>& Notices() { return h_.notices; }

    std::chrono::milliseconds timeout_{2000};
    quib::test::WindowHarness h_;
    Poster poster_;
    std::vector<int32_t> fatal_;
    std::u16string fatalShownText_;
};

TEST_F(FetchTest, TextDeliveredDuringTheRequestIsShownAndListedWithoutAPass) {
    bool passed = false;
    poster_.Post([&] { passed = true; });
    FetchNow(FakeHost::Framed("Bob: hi\r\nAl: yo"));
    EXPECT_FALSE(passed) << "the fetch processed window events";
    EXPECT_EQ(TextOf(W().txtVellText), u"Bob: hi\r\nAl: yo");
    EXPECT_EQ(EntriesOf(W().lstAvatars), (Entries{u"Bob", u"Al"}));
    EXPECT_EQ(FakeHost::Get().Count("QuibGetAllText"), 1);
    EXPECT_TRUE(Notices().empty());
}

TEST_F(FetchTest, TextDeliveredLaterThroughAMessageIsShownWhenItArrives) {
    FakeHost::Get().onGetAllText = [this] {
        poster_.Post([] { FakeHost::Get().DeliverText(FakeHost::Framed("Carol: later")); });
    };
    ClickGetText();
    EXPECT_EQ(TextOf(W().txtVellText), u"Carol: later");
    EXPECT_EQ(EntriesOf(W().lstAvatars), (Entries{u"Carol"}));
    EXPECT_TRUE(Notices().empty());
}

TEST_F(FetchTest, AnEmptyDeliveryShowsTheEmptyBufferAndClearsTheList) {
    FetchNow(FakeHost::Framed("Bob: hi"));
    for (const std::string& empty : {std::string(), std::string("\r\n\r\n")}) {
        FetchNow(FakeHost::Framed("Bob: hi"));
        FakeHost::Get().onGetAllText = [this, empty] {
            poster_.Post([empty] { FakeHost::Get().DeliverText(empty); });
        };
        const auto start = std::chrono::steady_clock::now();
        ClickGetText();
        EXPECT_LT(std::chrono::steady_clock::now() - start, timeout_);
        EXPECT_EQ(TextOf(W().txtVellText), u"");
        EXPECT_EQ(SendMessageW(W().lstAvatars, LB_GETCOUNT, 0, 0), 0);
    }
    EXPECT_TRUE(Notices().empty());
}

TEST_F(FetchTest, NoDeliveryEndsAtTheTimeOutKeepingThePreviousFetchAndTellsTheUser) {
    FetchNow(FakeHost::Framed("Bob: hi"));
    const auto start = std::chrono::steady_clock::now();
    ClickGetText();
    EXPECT_GE(std::chrono::steady_clock::now() - start, timeout_);
    EXPECT_EQ(TextOf(W().txtVellText), u"Bob: hi");
    EXPECT_EQ(EntriesOf(W().lstAvatars), (Entries{u"Bob"}));
    ASSERT_EQ(Notices().size(), 1u);
    EXPECT_NE(Notices()[0].find(u"no text"), std::u16string::npos);
    EXPECT_NE(W().Handle(), nullptr);
    EXPECT_TRUE(fatal_.empty());
}

TEST_F(FetchTest, ARequestTheHostNeverCompletesIsReportedAndNotWaitedFor) {
    FetchNow(FakeHost::Framed("Bob: hi"));
    FakeHost::Get().thenStatus = "3";
    bool passed = false;
    poster_.Post([&] { passed = true; });
    ClickGetText();
    EXPECT_FALSE(passed) << "the fetch waited";
    ASSERT_EQ(Notices().size(), 1u);
    EXPECT_NE(Notices()[0].find(u"3"), std::u16string::npos);
    EXPECT_EQ(TextOf(W().txtVellText), u"Bob: hi");
    EXPECT_EQ(EntriesOf(W().lstAvatars), (Entries{u"Bob"}));
}

TEST_F(FetchTest, TwoFetchesReplaceTextAndListAndKeepThePickedAvatar) {
    FetchNow(FakeHost::Framed("Bob: a\r\nAl: b"));
    PickIndex(1);
    ASSERT_EQ(TextOf(W().txtAvatar), u"Al");
    FetchNow(FakeHost::Framed("Carol: c"));
    EXPECT_EQ(TextOf(W().txtVellText), u"Carol: c");
    EXPECT_EQ(EntriesOf(W().lstAvatars), (Entries{u"Carol"}));
    EXPECT_EQ(TextOf(W().txtAvatar), u"Al");
}

TEST_F(FetchTest, AFetchNestedInAWaitEndsFirstAndTheOuterShowsTheLatestText) {
    FetchNow(FakeHost::Framed("Old: text"));
    std::vector<std::u16string> shownWhenNestedEnded;
    int requests = 0;
    FakeHost::Get().onGetAllText = [&] {
        if (++requests == 1) {
            // The user clicks "&Get Vell Text" again while the first waits.
            poster_.Post([&] {
                ClickGetText();
                shownWhenNestedEnded.push_back(TextOf(W().txtVellText));
            });
        } else {
            poster_.Post([] { FakeHost::Get().DeliverText(FakeHost::Framed("Nested: text")); });
        }
    };
    ClickGetText();
    EXPECT_EQ(requests, 2);
    EXPECT_EQ(shownWhenNestedEnded, (Entries{u"Nested: text"}));
    EXPECT_EQ(TextOf(W().txtVellText), u"Nested: text");
    EXPECT_EQ(EntriesOf(W().lstAvatars), (Entries{u"Nested"}));
    EXPECT_TRUE(Notices().empty());
}

TEST_F(FetchTest, ClosingTheWindowDuringAWaitEndsItAndTheProgramCleanly) {
    FakeHost::Get().onGetAllText = [this] {
        poster_.Post([this] { SendMessageW(W().Handle(), WM_CLOSE, 0, 0); });
    };
    ClickGetText();
    EXPECT_EQ(W().Handle(), nullptr);
    EXPECT_EQ(FakeHost::Get().Count("KillDDE"), 1);
    EXPECT_EQ(W().ExitCode(), 0);
    EXPECT_TRUE(fatal_.empty());
    EXPECT_TRUE(Notices().empty()) << "the wait ran into its time-out";
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 0u);
}

TEST_F(FetchTest, TabMovesTheFocusDuringAWait) {
    SetForegroundWindow(W().Handle());
    HWND focusAtRequest = nullptr;
    HWND focusAfterTab = nullptr;
    FakeHost::Get().onGetAllText = [&] {
        // The click left the focus on the button; Tab goes on from there.
        focusAtRequest = GetFocus();
        PostMessageW(focusAtRequest, WM_KEYDOWN, VK_TAB, 0);
        poster_.Post([&] {
            focusAfterTab = GetFocus();
            FakeHost::Get().DeliverText(FakeHost::Framed("Bob: hi"));
        });
    };
    ClickGetText();
    EXPECT_EQ(focusAtRequest, W().cmdGetText);
    EXPECT_EQ(focusAfterTab, W().cmdExit);
    EXPECT_EQ(TextOf(W().txtVellText), u"Bob: hi");
}

TEST_F(FetchTest, PickingKeepsTheModeSelected) {
    for (const int mode : {0, 1}) {
        FetchNow(FakeHost::Framed("Bob: a\r\nAl: b"));
        SetWindowTextW(W().txtAvatar, L"x");
        SelectMode(mode);
        PickIndex(1);
        EXPECT_EQ(TextOf(W().txtAvatar), u"Al");
        EXPECT_EQ(SendMessageW(W().cboCommunicationMode, CB_GETCURSEL, 0, 0), mode);
    }
}

TEST_F(FetchTest, PickingWithESPEnablesTheButtonThatAnEmptyAvatarDisabled) {
    FetchNow(FakeHost::Framed("Bob: a"));
    SetWindowTextW(W().txtText, L"hello");
    SelectMode(2);
    ASSERT_FALSE(CommunicateEnabled());
    // The user selects the entry with the keyboard.
    SetForegroundWindow(W().Handle());
    SetFocus(W().lstAvatars);
    h_.PressKey(VK_DOWN);
    EXPECT_EQ(TextOf(W().txtAvatar), u"Bob");
    EXPECT_TRUE(CommunicateEnabled());
}

TEST_F(FetchTest, AClickWithNoEntrySelectedLeavesTheAvatarAlone) {
    FetchNow(FakeHost::Framed("Bob: a"));
    SetWindowTextW(W().txtAvatar, L"Zed");
    PickIndex(-1);
    EXPECT_EQ(TextOf(W().txtAvatar), u"Zed");
    EXPECT_NE(W().Handle(), nullptr);
    EXPECT_TRUE(fatal_.empty());
}

TEST_F(FetchTest, TrimmingNulsAndNonAsciiNamesEndToEnd) {
    const struct {
        std::string bytes;
        std::u16string shown;
        Entries listed;
        std::u16string buffer;
    } cases[] = {
        // The host's frame and the line ends before it go.
        {FakeHost::Framed("Bob: hi\r\nZo\xEB: yo\r\nZO\xCB: again\r\n"),
         u"Bob: hi\r\nZo\u00EB: yo\r\nZO\u00CB: again",
         {u"Bob", u"Zo\u00EB"},
         u"Bob: hi\r\nZo\u00EB: yo\r\nZO\u00CB: again"},
        // A NUL at position 3 stays, with all after it; each NUL is shown.
        {std::string("ab\0cd: x\r\nBob: y\0z\r\n\r\n", 22),
         u"ab\u2400cd: x\r\nBob: y\u2400z",
         {u"ab\u2400cd", u"Bob"},
         std::u16string(u"ab\0cd: x\r\nBob: y\0z", 18)},
    };
    for (const auto& c : cases) {
        FetchNow(c.bytes);
        EXPECT_EQ(TextOf(W().txtVellText), c.shown);
        EXPECT_EQ(EntriesOf(W().lstAvatars), c.listed);
        EXPECT_EQ(quib::modQUIB::State().gTextBuffer, c.buffer);
    }
}

TEST_F(FetchTest, ALongBufferIsShownWhole) {
    std::string text;
    for (int i = 0; text.size() < 300000; ++i) {
        text += "Speaker" + std::to_string(i % 50) + ": a line of chat in the world\r\n";
    }
    FetchNow(FakeHost::Framed(text));
    EXPECT_EQ(static_cast<size_t>(GetWindowTextLengthW(W().txtVellText)), text.size() - 2);
    EXPECT_EQ(SendMessageW(W().lstAvatars, LB_GETCOUNT, 0, 0), 50);
}

TEST_F(FetchTest, AnErrorInTheScanLeavesTheNewTextShown) {
    FetchNow(FakeHost::Framed("Bob: old"));
    // A first line too long for the 16-bit line positions, then another line.
    const std::string bytes = "Al: " + std::string(40000, 'x') + "\r\nBob: y";
    FetchNow(bytes);
    ASSERT_EQ(fatal_, (std::vector<int32_t>{6}));
    EXPECT_EQ(fatalShownText_.size(), bytes.size());
}

}  // namespace
