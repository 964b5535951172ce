// The communicate commands of frmDemo: the enable rule of "&Communicate",
// sending a line, registering and unregistering, driven through real control
// messages against the fake host.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/communicate_rule.h"
#include "tests/app/window_harness.h"

namespace quib::test {
namespace {

enum class Input { Typed, SetByCode };

class CommunicateTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(h.Start()); }

    frmDemo& F() { return h.Form(); }

    // Picks a mode with the keyboard, as a user does on the closed list:
    // Home selects "Speak", each Down the next entry.
    void ChooseMode(int index) {
        SetFocus(F().cboCommunicationMode);
        h.PressKey(VK_HOME);
        for (int i = 0; i < index; ++i) {
            h.PressKey(VK_DOWN);
        }
        ASSERT_EQ(SendMessageW(F().cboCommunicationMode, CB_GETCURSEL, 0, 0), index);
    }

    // Replaces a field's text by typing (select all, type) or by WM_SETTEXT.
    void Enter(HWND field, const std::u16string& text, Input how) {
        if (how == Input::SetByCode) {
            WindowHarness::SetText(field, text);
            return;
        }
        SetFocus(field);
        SendMessageW(field, EM_SETSEL, 0, -1);
        if (text.empty()) {
            h.TypeText(u"\b");
        } else {
            h.TypeText(text);
        }
        ASSERT_EQ(WindowHarness::Text(field), text);
    }

    bool Enabled() { return IsWindowEnabled(F().cmdCommunicate) != FALSE; }

    WindowHarness h;
};

// The window follows the rule (its own table is in communicate_rule_test.cpp),
// reached from both sides: texts first, then the mode, and the mode first,
// then the texts; typed and set by code. Blanks are text like any other.
TEST_F(CommunicateTest, EnableRuleTable) {
    struct Row {
        int mode;
        std::u16string avatar;
        std::u16string line;
    };
    const Row rows[] = {
        {0, u"", u""},    {0, u"", u"hi"}, {0, u"Bob", u""}, {1, u"", u"hi"},
        {1, u"Bob", u""}, {2, u"", u"hi"}, {2, u"Bob", u""}, {2, u"Bob", u"hi"},
        {0, u"", u" "},   {2, u" ", u" "}, {2, u"  ", u""},
    };
    for (const Input how : {Input::Typed, Input::SetByCode}) {
        for (const Row& row : rows) {
            const bool enabled =
                app::CommunicateEnabled(row.mode, !row.avatar.empty(), !row.line.empty());
            SCOPED_TRACE(::testing::Message()
                         << "mode " << row.mode << " avatar '"
                         << std::string(row.avatar.begin(), row.avatar.end()) << "' line '"
                         << std::string(row.line.begin(), row.line.end()) << "' "
                         << (how == Input::Typed ? "typed" : "set"));
            // Texts, then mode.
            Enter(F().txtAvatar, row.avatar, how);
            Enter(F().txtText, row.line, how);
            ChooseMode(row.mode);
            EXPECT_EQ(Enabled(), enabled);
            // Mode, then texts: start from texts that fail every mode.
            Enter(F().txtText, u"", how);
            Enter(F().txtAvatar, u"", how);
            EXPECT_FALSE(Enabled());
            ChooseMode(row.mode);
            Enter(F().txtAvatar, row.avatar, how);
            Enter(F().txtText, row.line, how);
            EXPECT_EQ(Enabled(), enabled);
        }
    }
}

TEST_F(CommunicateTest, WithoutAModeTheButtonStaysDisabled) {
    Enter(F().txtAvatar, u"Bob", Input::Typed);
    Enter(F().txtText, u"hello", Input::Typed);
    EXPECT_FALSE(Enabled());
    EXPECT_EQ(SendMessageW(F().cboCommunicationMode, CB_GETCURSEL, 0, 0), -1);
}

TEST_F(CommunicateTest, RuleRunsOncePerChange) {
    ChooseMode(0);
    const uint32_t start = F().EnableRuleRuns();
    SetFocus(F().txtText);
    h.TypeText(u"a");
    EXPECT_EQ(F().EnableRuleRuns(), start + 1);
    EXPECT_TRUE(Enabled());
    h.TypeText(u"\b");
    EXPECT_EQ(F().EnableRuleRuns(), start + 2);
    EXPECT_FALSE(Enabled());
    WindowHarness::SetText(F().txtAvatar, u"Bob");
    EXPECT_EQ(F().EnableRuleRuns(), start + 3);
    WindowHarness::SetText(F().txtText, u"x");
    EXPECT_EQ(F().EnableRuleRuns(), start + 4);
    EXPECT_TRUE(Enabled());
    SetFocus(F().cboCommunicationMode);
    h.PressKey(VK_DOWN);
    EXPECT_EQ(F().EnableRuleRuns(), start + 5);
}

TEST_F(CommunicateTest, SwitchingModesAppliesTheRuleAtOnce) {
    Enter(F().txtText, u"hello", Input::Typed);
    ChooseMode(2);
    EXPECT_FALSE(Enabled()) << "ESP without an avatar";
    ChooseMode(0);
    EXPECT_TRUE(Enabled());
    ChooseMode(2);
    EXPECT_FALSE(Enabled());
    Enter(F().txtAvatar, u"Bob", Input::Typed);
    EXPECT_TRUE(Enabled());
    Enter(F().txtText, u"", Input::Typed);
    EXPECT_FALSE(Enabled());
}

TEST_F(CommunicateTest, SendingTheLineAndSendingItAgain) {
    struct Case {
        int mode;
        std::u16string avatar;
        std::u16string line;
        std::string call;
    };
    const Case cases[] = {
        {0, u"", u"hello", "QuibCommunicate(window_tests,0,,hello)"},
        {1, u"Bob", u"hmm", "QuibCommunicate(window_tests,1,Bob,hmm)"},  // avatar goes along
        {2, u"Bob", u"psst", "QuibCommunicate(window_tests,2,Bob,psst)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        FakeHost::Get().calls.clear();
        Enter(F().txtAvatar, c.avatar, Input::SetByCode);
        Enter(F().txtText, c.line, Input::SetByCode);
        ChooseMode(c.mode);
        ASSERT_TRUE(Enabled());
        h.Click(F().cmdCommunicate);
        h.Click(F().cmdCommunicate);
        EXPECT_EQ(FakeHost::Get().calls, (std::vector<std::string>{c.call, c.call}));
        // Nothing is cleared or changed.
        EXPECT_EQ(WindowHarness::Text(F().txtAvatar), c.avatar);
        EXPECT_EQ(WindowHarness::Text(F().txtText), c.line);
        EXPECT_EQ(SendMessageW(F().cboCommunicationMode, CB_GETCURSEL, 0, 0), c.mode);
        EXPECT_TRUE(Enabled());
    }
    EXPECT_TRUE(h.notices.empty());
    EXPECT_TRUE(h.fatal.empty());
}

// A host that never ends the request: the loop gives up within its bound and
// the user is told, with the last status; the window stays open.
TEST_F(CommunicateTest, ARequestTheHostNeverEndsIsGivenUpAndReported) {
    for (const char* status : {"6", "3"}) {
        SCOPED_TRACE(status);
        h.notices.clear();
        FakeHost::Get().thenStatus = std::string(status);
        Enter(F().txtText, u"hi", Input::SetByCode);
        ChooseMode(0);
        const DWORD start = GetTickCount();
        h.Click(F().cmdCommunicate);
        EXPECT_LT(GetTickCount() - start, 5000u);
        ASSERT_EQ(h.notices.size(), 1u);
        std::u16string quoted(1, u'"');
        quoted += static_cast<char16_t>(status[0]);
        quoted += u'"';
        EXPECT_NE(h.notices[0].find(quoted), std::u16string::npos);
        EXPECT_TRUE(h.fatal.empty());
        EXPECT_TRUE(IsWindow(h.Window()));
        EXPECT_EQ(FakeHost::Get().Count("KillDDE"), 0);
    }
}

TEST_F(CommunicateTest, RegisterAndUnregisterMakeOneCallPerClick) {
    Enter(F().txtAvatar, u"Bob", Input::SetByCode);
    FakeHost::Get().calls.clear();
    FakeHost::Get().thenStatus = std::string("6");  // never read by these clicks
    h.Click(F().cmdQuibRegister);
    h.Click(F().cmdQuibUnregister);
    h.Click(F().cmdQuibRegister);
    h.Click(F().cmdQuibRegister);
    h.Click(F().cmdQuibUnregister);
    EXPECT_EQ(
        FakeHost::Get().calls,
        (std::vector<std::string>{"QuibRegister(window_tests)", "QuibUnregister(window_tests)",
                                  "QuibRegister(window_tests)", "QuibRegister(window_tests)",
                                  "QuibUnregister(window_tests)"}));
    EXPECT_EQ(WindowHarness::Text(F().txtAvatar), u"Bob");
    EXPECT_FALSE(Enabled());
    EXPECT_TRUE(h.notices.empty());
}

}  // namespace
}  // namespace quib::test
