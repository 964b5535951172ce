// The world of vellhost.exe on its own (several plug-ins' views of one world),
// and the messages that carry calls and callbacks to it and back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vellhost/host_world.h"
#include "vellquib/host_wire.h"

namespace quib::vellhost {
namespace {

using standin::Export;
using standin::wire::Request;

Config Quiet() {
    Config c;
    c.busyPercent = 0;
    c.chatterMs = 0;
    return c;
}

Request Communicate(const std::string& plugin, int16_t mode, const std::string& avatar,
                    const std::string& message) {
    return {Export::QuibCommunicate, plugin, mode, avatar, message, {}};
}

Request Registration(Export what, const std::string& plugin) {
    return {what, plugin, 0, {}, {}, {}};
}

bool Holds(const World& view, const std::string& line) {
    for (const ChatLine& l : view.Lines()) {
        if (l.line == line) {
            return true;
        }
    }
    return false;
}

TEST(HostWorld, LinesReachEveryViewAndAnEspOnlyItsAddressee) {
    HostWorld w(Quiet());
    EXPECT_EQ(w.Join(1, "QuibDemo", "Alice"), "Alice");
    EXPECT_EQ(w.Join(2, "QuibDemo", "alice"), "alice 2") << "a user name is unique";
    EXPECT_EQ(w.Join(3, "Other", "Marisol"), "Marisol 2") << "an avatar's name is taken";
    for (MemberId id : {1, 2, 3}) {
        w.Call(id, Registration(Export::QuibRegister, id == 3 ? "Other" : "QuibDemo"));
    }
    w.TakeNews();

    const HostWorld::Answer said = w.Call(1, Communicate("QuibDemo", 0, "", "Hi all"));
    EXPECT_EQ(said.status, "0");
    ASSERT_EQ(said.lines.size(), 1u) << "the caller's own line comes inside its call";
    EXPECT_EQ(said.lines[0].line, "Alice: Hi all");
    auto news = w.TakeNews();
    EXPECT_EQ(news.count(1), 0u);
    ASSERT_EQ(news[2].size(), 1u);
    EXPECT_EQ(news[2][0].line, "Alice: Hi all");
    EXPECT_EQ(news[3].size(), 1u);

    // A line still waiting for a plug-in is neither answered inside that
    // plug-in's next call nor sent on by it.
    w.Call(1, Communicate("QuibDemo", 0, "", "first"));
    const HostWorld::Answer second = w.Call(2, Communicate("QuibDemo", 0, "", "second"));
    ASSERT_EQ(second.lines.size(), 1u);
    EXPECT_EQ(second.lines[0].line, "alice 2: second");
    news = w.TakeNews();
    ASSERT_EQ(news[1].size(), 1u);
    EXPECT_EQ(news[1][0].line, "alice 2: second");
    ASSERT_EQ(news[2].size(), 1u);
    EXPECT_EQ(news[2][0].line, "Alice: first");
    EXPECT_EQ(news[3].size(), 2u);

    // An ESP to another plug-in's user, named in any case and with blanks.
    const HostWorld::Answer esp = w.Call(3, Communicate("Other", 2, " ALICE ", "psst"));
    EXPECT_EQ(esp.status, "0");
    EXPECT_FALSE(esp.reply);
    news = w.TakeNews();
    ASSERT_EQ(news[1].size(), 1u);
    EXPECT_EQ(news[1][0].line, "ESP from Marisol 2: psst");
    EXPECT_EQ(news[1][0].kind, standin::LineKind::EspToUser);
    EXPECT_EQ(news.count(2), 0u) << "alice 2 is not Alice";
    EXPECT_TRUE(Holds(*w.Find(3)->view, "ESP to ALICE: psst"));
    EXPECT_FALSE(
        Holds(*w.Find(3)->view, "<system>: Nobody called ALICE is here; the ESP went nowhere."));
    EXPECT_TRUE(Holds(w.HostView(), "ESP from Marisol 2 to ALICE: psst"));

    // The host's user plays an avatar: to everyone, or to one user.
    EXPECT_TRUE(w.Say("Edda", 0, "", "Welcome, plug-ins"));
    EXPECT_TRUE(w.Say("Quill", 2, "alice 2", "only for you"));
    EXPECT_FALSE(w.Say("Quill", 2, "Nobody", "lost")) << "an ESP to no joined user";
    EXPECT_FALSE(w.Say("<system>", 0, "", "forged")) << "no avatar speaks as the system";
    news = w.TakeNews();
    EXPECT_EQ(news[1].size(), 1u);
    ASSERT_EQ(news[2].size(), 2u);
    EXPECT_EQ(news[2][1].line, "ESP from Quill: only for you");

    // A plug-in that left gets nothing and its calls are not taken.
    w.Leave(2);
    EXPECT_TRUE(w.Say("Edda", 0, "", "Still there?"));
    EXPECT_EQ(w.TakeNews().count(2), 0u);
    EXPECT_EQ(w.Call(2, Communicate("QuibDemo", 0, "", "ghost")).result, -1);
    EXPECT_FALSE(w.Call(2, Communicate("QuibDemo", 0, "", "ghost")).status);
}

TEST(HostWorld, RegistrationBelongsToEachJoinedPlugIn) {
    HostWorld w(Quiet());
    w.Join(1, "QuibDemo", "Alice");
    w.Join(2, "QuibDemo", "Bob");
    EXPECT_EQ(w.Call(1, Registration(Export::QuibRegister, "QuibDemo")).result, 0);
    EXPECT_EQ(w.Call(2, Communicate("QuibDemo", 0, "", "x")).status, "10")
        << "the same name registered by another plug-in";
    EXPECT_EQ(w.Call(2, Registration(Export::QuibRegister, "QuibDemo")).result, 0);
    EXPECT_EQ(w.Call(1, Registration(Export::QuibUnregister, "QuibDemo")).result, 0);
    EXPECT_EQ(w.Call(2, Communicate("QuibDemo", 0, "", "still here")).status, "0");
    EXPECT_EQ(w.Call(1, Communicate("QuibDemo", 0, "", "gone")).status, "10");
    EXPECT_EQ(w.Find(2)->calls, 3);
    EXPECT_EQ(w.Find(2)->lastStatus, "0");

    // Settings follow every view at once; a fetch brings the caller's view.
    w.Adjust(100, 5, 0);
    EXPECT_EQ(w.Call(2, Registration(Export::QuibGetAllText, "QuibDemo")).status, "6");
    w.Adjust(0, 5, 0);
    const HostWorld::Answer fetched = w.Call(2, Registration(Export::QuibGetAllText, "QuibDemo"));
    ASSERT_TRUE(fetched.text);
    EXPECT_NE(fetched.text->find("\r\nBob: still here\r\n"), std::string::npos);
    EXPECT_EQ(fetched.text->find("gone"), std::string::npos);
}

TEST(HostWire, EveryByteCrossesBothWays) {
    const std::string bytes("a\0b\xE9\xFF\r\n", 7);
    const Request q{Export::QuibCommunicate, "Demo\xE4", -3, bytes, bytes + bytes, ""};
    const auto back = standin::wire::DecodeRequest(standin::wire::Encode(q));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->what, q.what);
    EXPECT_EQ(back->plugin, q.plugin);
    EXPECT_EQ(back->mode, -3);
    EXPECT_EQ(back->avatar, bytes);
    EXPECT_EQ(back->message, bytes + bytes);

    standin::wire::Reply r;
    r.result = 6;
    r.status = std::string("6\0", 2);
    r.events = {{standin::wire::Event::Kind::Message, bytes, -1, bytes},
                {standin::wire::Event::Kind::Text, "", 0, std::string(70000, '\0')}};
    const auto reply = standin::wire::DecodeReply(standin::wire::Encode(r));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, r.status);
    ASSERT_EQ(reply->events.size(), 2u);
    EXPECT_EQ(reply->events[0].speaker, bytes);
    EXPECT_EQ(reply->events[0].number, -1);
    EXPECT_EQ(reply->events[1].bytes.size(), 70000u);
    standin::wire::Reply none;
    EXPECT_FALSE(standin::wire::DecodeReply(standin::wire::Encode(none))->status);

    // Cut or foreign bytes are refused, never read past their end.
    const std::string whole = standin::wire::Encode(q);
    for (size_t n = 0; n < whole.size(); ++n) {
        EXPECT_FALSE(standin::wire::DecodeRequest(whole.substr(0, n))) << n;
    }
    EXPECT_FALSE(standin::wire::DecodeRequest(whole + "x"));
    EXPECT_FALSE(standin::wire::DecodeJoin(std::string("\xFF\xFF\xFF\x7F", 4)));
}

}  // namespace
}  // namespace quib::vellhost
