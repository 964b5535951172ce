#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bridge/modQUIB.h"
#include "platform/error.h"
#include "tests/support/fake_host.h"

namespace quib::modQUIB {
namespace {

using quib::test::FakeHost;
using Script = std::vector<std::optional<std::string>>;

class RequestLoops : public ::testing::Test {
  protected:
    void SetUp() override {
        fake().Reset();
        AttachHost(fake().Table());
    }
    void TearDown() override { DetachHost(); }
    static FakeHost& fake() { return FakeHost::Get(); }
    static void Script(std::initializer_list<std::optional<std::string>> s,
                       std::optional<std::string> then = std::nullopt) {
        fake().statuses.assign(s.begin(), s.end());
        fake().thenStatus = then;
    }
    // The calls, without the plug-in name, e.g. "C" "R" "G".
    static std::string Trace() {
        std::string t;
        for (const auto& c : fake().calls) {
            t += c.rfind("QuibCommunicate", 0) == 0  ? "C"
                 : c.rfind("QuibGetAllText", 0) == 0 ? "G"
                 : c.rfind("QuibRegister", 0) == 0   ? "R"
                                                     : "?";
        }
        return t;
    }
};

TEST_F(RequestLoops, StatusesDriveTheRepetition) {
    struct Case {
        const char* name;
        std::initializer_list<std::optional<std::string>> script;
        const char* communicate;  // trace for Communicate; G for C in GetAllText
    };
    const Case cases[] = {
        {"busy twice then ok", {"6", "6", "0"}, "CCC"},
        {"not registered then ok", {"10", "0"}, "CRC"},
        {"other status then link closed", {"3", "-1"}, "CC"},
        {"empty status returns", {""}, "C"},
        {"every other status repeats",
         {"1", "2", "4", "5", "7", "8", "9", "11", "12", "13", "14", "15", "16", "17", "x", "0"},
         "CCCCCCCCCCCCCCCC"},
        {"exact comparison: ' 0' and '06' repeat", {" 0", "06", "-1"}, "CCC"},
        {"no status at all, first request", {std::nullopt}, "C"},
    };
    for (const auto& c : cases) {
        for (bool communicate : {true, false}) {
            fake().Reset();
            Script(c.script);
            const RequestOutcome r = communicate ? Communicate(0, u"", u"hi") : GetAllText();
            std::string expected = c.communicate;
            if (!communicate) {
                for (char& ch : expected)
                    ch = ch == 'C' ? 'G' : ch;
            }
            EXPECT_EQ(Trace(), expected) << c.name;
            EXPECT_TRUE(r.completed) << c.name;
        }
    }
}

TEST_F(RequestLoops, StatusLeftFromBeforeJudgesASilentCall) {
    Script({"-1"});
    (void)Communicate(0, u"", u"a");
    Script({std::nullopt});
    fake().calls.clear();
    const RequestOutcome r = Communicate(0, u"", u"b");
    EXPECT_EQ(Trace(), "C");
    EXPECT_EQ(r.lastStatus, u"-1");
    EXPECT_EQ(State().gStatus, u"-1");  // never cleared by the loops
}

TEST_F(RequestLoops, RegisterOnTenUsesTheExecutableName) {
    Script({"10", "0"});
    (void)GetAllText();
    ASSERT_EQ(fake().calls.size(), 3u);
    EXPECT_EQ(fake().calls[1], "QuibRegister(bridge_tests)");
    EXPECT_EQ(fake().calls[0], "QuibGetAllText(bridge_tests)");
}

TEST_F(RequestLoops, CommunicateSendsModeAvatarAndMessage) {
    Script({"0"});
    (void)Communicate(2, u"Bob", u"hello there");
    EXPECT_EQ(fake().calls,
              std::vector<std::string>{"QuibCommunicate(bridge_tests,2,Bob,hello there)"});
}

TEST_F(RequestLoops, RepetitionSendsWhatTheLibraryLeftInTheBuffers) {
    Script({"6", "6", "0"});
    int call = 0;
    fake().onCommunicate = [&](char* avatar, char* message) {
        if (call == 0) {
            avatar[0] = 'R';  // "Bob" -> "Rob"
        } else if (call == 1) {
            message[1] = '\0';  // a NUL mid-buffer; the length must stay
            avatar[3] = 'X';    // overwrite the terminator itself
        }
        ++call;
    };
    const std::u16string avatar = u"Bob";
    const std::u16string message = u"hey";
    (void)Communicate(2, avatar, message);
    ASSERT_EQ(fake().sentAvatars.size(), 3u);
    EXPECT_EQ(fake().sentAvatars[0], "Bob");
    EXPECT_EQ(fake().sentAvatars[1], "Rob");
    // The read-back took exactly three bytes, not up to a missing NUL.
    EXPECT_EQ(fake().sentAvatars[2], "Rob");
    // The third call still got a three-byte message with the NUL inside.
    EXPECT_EQ(fake().sentMessages[2], "h");
    EXPECT_EQ(avatar, u"Bob");
    EXPECT_EQ(message, u"hey");
}

TEST_F(RequestLoops, NulWrittenMidBufferKeepsTheFullLength) {
    Script({"6", "0"});
    std::vector<std::string> raw;
    int call = 0;
    fake().onCommunicate = [&](char*, char* message) {
        if (call++ == 0) {
            message[2] = '\0';
        } else {
            raw.emplace_back(message, 5);
        }
    };
    (void)Communicate(0, u"", u"abcde");
    ASSERT_EQ(raw.size(), 1u);
    EXPECT_EQ(raw[0], std::string("ab\0de", 5));
}

TEST_F(RequestLoops, ModeOutside16BitsIsOverflowBeforeAnythingIsSent) {
    for (int32_t mode : {32768, -32769, 100000}) {
        try {
            (void)Communicate(mode, u"a", u"b");
            ADD_FAILURE() << mode;
        } catch (const quib::NumberedError& e) {
            EXPECT_EQ(e.Number(), 6);
        }
    }
    EXPECT_TRUE(fake().calls.empty());
    Script({"0"});
    (void)Communicate(-32768, u"", u"x");
    (void)Communicate(32767, u"", u"x");
    EXPECT_EQ(fake().Count("QuibCommunicate(bridge_tests,-32768,"), 1);
    EXPECT_EQ(fake().Count("QuibCommunicate(bridge_tests,32767,"), 1);
}

TEST_F(RequestLoops, HostThatNeverEndsARequestIsGivenUpWithinTheBound) {
    for (const char* status : {"6", "3", "10"}) {
        fake().Reset();
        Script({}, status);
        const RequestOutcome c = Communicate(1, u"", u"x");
        EXPECT_FALSE(c.completed) << status;
        EXPECT_EQ(c.calls, kDefaultRequestLimits.maxCalls) << status;
        const std::string s(status);
        EXPECT_EQ(c.lastStatus, std::u16string(s.begin(), s.end()));
        const RequestOutcome g = GetAllText();
        EXPECT_FALSE(g.completed) << status;
    }
}

TEST_F(RequestLoops, SlowHostIsGivenUpByTime) {
    Script({}, "6");
    fake().onGetAllText = [] { std::this_thread::sleep_for(std::chrono::milliseconds(20)); };
    const RequestOutcome r = GetAllText({1000000, std::chrono::milliseconds(100)});
    EXPECT_FALSE(r.completed);
    EXPECT_GE(r.calls, 2);
    EXPECT_LT(r.calls, 20);
}

TEST_F(RequestLoops, TextDeliveredDuringTheRequestSurvives) {
    Script({"0"});
    ClearTextBuffer();
    fake().onGetAllText = [] { FakeHost::Get().DeliverText(FakeHost::Framed("Bob: hi")); };
    (void)GetAllText();
    EXPECT_EQ(State().gTextBuffer, u"Bob: hi");
}

TEST_F(RequestLoops, CallsWithoutAHostAreAClearError) {
    DetachHost();
    EXPECT_THROW((void)GetAllText(), quib::NumberedError);
}

}  // namespace
}  // namespace quib::modQUIB
