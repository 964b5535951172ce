// The simulated world on its own: statuses, line forms, framing, settings.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "bridge/modQUIB.h"
#include "platform/codepage.h"
#include "vellquib/sim_world.h"

namespace quib::standin {
namespace {

Config Quiet() {
    Config c;
    c.busyPercent = 0;
    return c;
}

TEST(World, FramedBufferTrimsToExactlyTheLines) {
    World w(Quiet());
    w.Register("Demo");
    ASSERT_EQ(w.Communicate("Demo", 0, "", "hello there").status, kStatusOk);
    const std::string framed = w.FramedBuffer();
    std::string expected;
    for (const ChatLine& l : w.Lines()) {
        expected += (expected.empty() ? "" : "\r\n") + l.line;
    }
    // Four digits (the line count) and a NUL close the buffer.
    ASSERT_GE(framed.size(), 5u);
    EXPECT_EQ(framed.back(), '\0');
    EXPECT_EQ(framed.substr(framed.size() - 5, 4), "0010");
    // The program's own trimming gives back the lines and nothing else.
    std::u16string trimmed = quib::platform::DecodeSystemCodePage(framed);
    quib::modQUIB::TrimTextBuffer(trimmed);
    EXPECT_EQ(trimmed, quib::platform::DecodeSystemCodePage(expected));
}

TEST(World, RequestStatusesFollowRegistration) {
    World w(Quiet());
    EXPECT_EQ(w.Admit("Demo", "x"), kStatusNotRegistered);
    EXPECT_TRUE(w.Register("Demo"));
    EXPECT_FALSE(w.Register("Demo"));
    EXPECT_EQ(w.Admit("Demo", "x"), kStatusOk);
    EXPECT_EQ(w.Admit("demo", "x"), kStatusNotRegistered);  // names are exact
    EXPECT_TRUE(w.Unregister("Demo"));
    EXPECT_FALSE(w.Unregister("Demo"));
    EXPECT_EQ(w.Admit("Demo", "x"), kStatusNotRegistered);
    // Each change of registration left a notice.
    const auto fresh = w.TakeNewLines();
    ASSERT_EQ(fresh.size(), 2u);
    EXPECT_EQ(fresh[0].line, "<system>: Plug-in Demo registered.");
    EXPECT_EQ(fresh[1].line, "<system>: Plug-in Demo unregistered.");
}

TEST(World, BusyAnswersEndAndLeaveANotice) {
    Config c;
    c.busyPercent = 50;
    c.seed = 7;
    World w(c);
    w.Register("Demo");
    w.TakeNewLines();
    int busy = 0;
    std::string status;
    for (int i = 0; i < 100 && (status = w.Admit("Demo", "Speak")) == kStatusBusy; ++i) {
        ++busy;
    }
    ASSERT_EQ(status, kStatusOk);
    const auto fresh = w.TakeNewLines();
    if (busy > 0) {
        ASSERT_EQ(fresh.size(), 1u);
        EXPECT_EQ(fresh[0].line, "<system>: Host busy; Speak of Demo went through on try " +
                                     std::to_string(busy + 1) + ".");
    } else {
        EXPECT_TRUE(fresh.empty());
    }

    c.busyPercent = 100;
    World always(c);
    always.Register("Demo");
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(always.Admit("Demo", "Speak"), kStatusBusy);
    }
}

TEST(World, SameSeedSameWorld) {
    Config c;
    c.seed = 12345;
    c.busyPercent = 30;
    World a(c), b(c);
    a.Register("P");
    b.Register("P");
    for (int i = 0; i < 30; ++i) {
        a.Chatter();
        b.Chatter();
        EXPECT_EQ(a.Admit("P", "r"), b.Admit("P", "r"));
    }
    EXPECT_EQ(a.FramedBuffer(), b.FramedBuffer());
    c.seed = 54321;
    World d(c);
    for (int i = 0; i < 30; ++i) {
        d.Chatter();
    }
    EXPECT_NE(a.FramedBuffer(), d.FramedBuffer());
}

TEST(World, CommunicateLineForms) {
    struct Case {
        int16_t mode;
        const char* avatar;
        const char* message;
        const char* status;
        const char* line;  // the line added, or nullptr
        LineKind kind;
    };
    const Case cases[] = {
        {0, "ignored", "Hi all", VELLQUIB_STATUS_OK, "Visitor: Hi all", LineKind::Speech},
        {1, "", "Hmm: maybe:  later", VELLQUIB_STATUS_OK,
         "Visitor thinks . o O ( Hmm:maybe:later )", LineKind::Thought},
        {2, " Quill ", "Where is the pier?", VELLQUIB_STATUS_OK, "ESP to Quill: Where is the pier?",
         LineKind::EspFromUser},
        {0, "", "two\r\nlines", VELLQUIB_STATUS_OK, "Visitor: two  lines", LineKind::Speech},
        {0, "", "", VELLQUIB_STATUS_REFUSED, nullptr, LineKind::Speech},
        {3, "", "x", VELLQUIB_STATUS_REFUSED, nullptr, LineKind::Speech},
        {-1, "", "x", VELLQUIB_STATUS_REFUSED, nullptr, LineKind::Speech},
        {2, "", "x", VELLQUIB_STATUS_REFUSED, nullptr, LineKind::Speech},
        {2, "  ", "x", VELLQUIB_STATUS_REFUSED, nullptr, LineKind::Speech},
        {2, "A: B", "x", VELLQUIB_STATUS_REFUSED, nullptr, LineKind::Speech},
        {2, "<system>", "x", VELLQUIB_STATUS_REFUSED, nullptr, LineKind::Speech},
    };
    // Unusable arguments are answered before registration is looked at.
    EXPECT_EQ(World(Quiet()).Communicate("Demo", 9, "", "x").status, kStatusRefused);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.message) + " mode " + std::to_string(c.mode));
        World w(Quiet());
        w.Register("Demo");
        w.TakeNewLines();
        const auto r = w.Communicate("Demo", c.mode, c.avatar, c.message);
        EXPECT_EQ(r.status, c.status);
        const auto fresh = w.TakeNewLines();
        if (!c.line) {
            EXPECT_TRUE(fresh.empty());
            continue;
        }
        ASSERT_FALSE(fresh.empty());
        EXPECT_EQ(fresh[0].line, c.line);
        EXPECT_EQ(fresh[0].kind, c.kind);
    }
}

TEST(World, EspAnswersComeFromTheAddressedAvatarOnly) {
    Config c = Quiet();
    c.espReplyMs = 321;
    World w(c);
    w.Register("Demo");
    const auto r = w.Communicate("Demo", 2, "edda", "hi");
    ASSERT_TRUE(r.reply.has_value());
    EXPECT_EQ(r.reply->delayMs, 321);
    EXPECT_EQ(r.reply->line.kind, LineKind::EspToUser);
    EXPECT_EQ(r.reply->line.speaker, "Edda");
    EXPECT_EQ(r.reply->line.line.rfind("ESP from Edda: ", 0), 0u);

    w.TakeNewLines();
    const auto nobody = w.Communicate("Demo", 2, "Zed", "hi");
    EXPECT_EQ(nobody.status, kStatusOk);
    EXPECT_FALSE(nobody.reply.has_value());
    const auto fresh = w.TakeNewLines();
    ASSERT_EQ(fresh.size(), 2u);
    EXPECT_EQ(fresh[1].kind, LineKind::Notice);
}

TEST(World, BufferKeepsTheNewestLines) {
    World w(Quiet());
    w.Register("Demo");
    for (int i = 0; i < 300; ++i) {
        w.Communicate("Demo", 0, "", "line " + std::to_string(i));
    }
    EXPECT_EQ(w.Lines().size(), kMaxLines);
    EXPECT_EQ(w.Lines().back().line, "Visitor: line 299");
    const std::string long_text(5000, 'x');
    w.Communicate("Demo", 0, "", long_text);
    EXPECT_EQ(w.Lines().back().text.size(), kMaxMessageBytes);
}

TEST(Config, ReadsTheEnvironmentAndIgnoresWhatItCannotUse) {
    std::map<std::string, std::string> env;
    const Config::Lookup lookup = [&](const char* name) -> std::optional<std::string> {
        const auto it = env.find(name);
        if (it == env.end()) {
            return std::nullopt;
        }
        return it->second;
    };
    const Config defaults;
    Config c = Config::FromEnvironment(lookup);
    EXPECT_EQ(c.seed, defaults.seed);
    EXPECT_EQ(c.busyPercent, defaults.busyPercent);
    EXPECT_EQ(c.userName, defaults.userName);

    env = {{"VELLQUIB_SEED", "4000000000"}, {"VELLQUIB_BUSY_PERCENT", "100"},
           {"VELLQUIB_DELIVERY_MS", "0"},   {"VELLQUIB_CHATTER_MS", "0"},
           {"VELLQUIB_ESP_REPLY_MS", "50"}, {"VELLQUIB_INIT_RESULT", "-5"},
           {"VELLQUIB_USER", "Wanderer"}};
    c = Config::FromEnvironment(lookup);
    EXPECT_EQ(c.seed, 4000000000u);
    EXPECT_EQ(c.busyPercent, 100);
    EXPECT_EQ(c.deliveryDelayMs, 0);
    EXPECT_EQ(c.chatterMs, 0);
    EXPECT_EQ(c.espReplyMs, 50);
    EXPECT_EQ(c.initResult, -5);
    EXPECT_EQ(c.userName, "Wanderer");

    env = {{"VELLQUIB_SEED", "-1"},           {"VELLQUIB_BUSY_PERCENT", "101"},
           {"VELLQUIB_DELIVERY_MS", "12x"},   {"VELLQUIB_CHATTER_MS", ""},
           {"VELLQUIB_INIT_RESULT", "40000"}, {"VELLQUIB_USER", "tobin"}};
    c = Config::FromEnvironment(lookup);
    EXPECT_EQ(c.seed, defaults.seed);
    EXPECT_EQ(c.busyPercent, defaults.busyPercent);
    EXPECT_EQ(c.deliveryDelayMs, defaults.deliveryDelayMs);
    EXPECT_EQ(c.chatterMs, defaults.chatterMs);
    EXPECT_EQ(c.initResult, 0);
    EXPECT_EQ(c.userName, defaults.userName);  // a simulated avatar's name

    for (const char* bad :
         {"", "a: b", "<system>", "tab\there", "123456789012345678901234567890123"}) {
        env = {{"VELLQUIB_USER", bad}};
        EXPECT_EQ(Config::FromEnvironment(lookup).userName, defaults.userName) << bad;
    }
}

}  // namespace
}  // namespace quib::standin
