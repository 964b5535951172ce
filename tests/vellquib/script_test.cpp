// The stand-in's script reader and its call log, on their own.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <variant>

#include "vellquib/call_log.h"
#include "vellquib/script.h"

namespace quib::standin {
namespace {

TEST(Script, AnswersComePerExportInTheOrderWritten) {
    const auto parsed = ParseScript(
        "# busy twice, then through\r\n"
        "InitDDE 0\n"
        "  message after 50 \"Edda\" 1 \"Hello\"  # the world speaks\n"
        "QuibCommunicate 6\n"
        "QuibGetAllText 0\n"
        "  text now \"Edda: Hello\" \"Visitor: \\\"hi\\\"\"\n"
        "  raw \"a\\0b\\x7F\"\n"
        "QuibCommunicate -\n"
        "  write avatar \"Quill\"\n"
        "QuibCommunicate \"\"\n"
        "QuibRegister\n");
    ASSERT_TRUE(std::holds_alternative<Script>(parsed)) << std::get<ScriptError>(parsed).what;
    Script script = std::get<Script>(parsed);

    const ScriptAnswer* init = script.Next(Export::InitDDE);
    ASSERT_NE(init, nullptr);
    ASSERT_EQ(init->events.size(), 1u);
    EXPECT_EQ(init->events[0].when, When::After);
    EXPECT_EQ(init->events[0].delayMs, 50);
    EXPECT_EQ(init->events[0].bytes, "Edda");
    EXPECT_EQ(init->events[0].said, "Hello");
    EXPECT_EQ(script.Next(Export::InitDDE), nullptr);

    const ScriptAnswer* c1 = script.Next(Export::QuibCommunicate);
    const ScriptAnswer* c2 = script.Next(Export::QuibCommunicate);
    const ScriptAnswer* c3 = script.Next(Export::QuibCommunicate);
    ASSERT_TRUE(c1 && c2 && c3);
    EXPECT_EQ(c1->status, "6");
    EXPECT_EQ(c1->line, 4);
    EXPECT_EQ(c2->status, std::nullopt);  // "-": no status at all
    ASSERT_EQ(c2->events.size(), 1u);
    EXPECT_EQ(c2->events[0].kind, ScriptEvent::Kind::WriteAvatar);
    EXPECT_EQ(c3->status, "");  // the empty status
    EXPECT_EQ(script.Next(Export::QuibCommunicate), nullptr);

    const ScriptAnswer* get = script.Next(Export::QuibGetAllText);
    ASSERT_TRUE(get && get->events.size() == 2);
    EXPECT_EQ(get->events[0].when, When::Now);
    EXPECT_EQ(get->events[0].bytes, std::string("Edda: Hello\r\nVisitor: \"hi\"\r\n0002\0", 33));
    EXPECT_EQ(get->events[1].when, When::Later);
    EXPECT_EQ(get->events[1].bytes, std::string("a\0b\x7F", 4));
    EXPECT_EQ(script.Next(Export::QuibRegister)->status, std::nullopt);
    EXPECT_EQ(script.Next(Export::QuibSend), nullptr);
}

TEST(Script, AMalformedScriptNamesItsLine) {
    const struct {
        const char* script;
        int line;
        const char* what;  // a part of the message
    } cases[] = {
        {"QuibComunicate 0", 1, "unknown word \"QuibComunicate\""},
        {"\n\ntext \"a\"", 3, "text needs a call line above it"},
        {"QuibGetAllText", 1, "needs the status"},
        {"QuibGetAllText 0 0", 1, "unexpected \"0\""},
        {"InitDDE yes", 1, "InitDDE's result must be a number"},
        {"InitDDE 40000", 1, "InitDDE's result must be a number"},
        {"KillDDE", 1, "cannot be scripted"},
        {"QuibSend 0\nIsVellThere", 2, "cannot be scripted"},
        {"QuibGetAllText 0\ntext \"open", 2, "not closed"},
        {"QuibGetAllText 0\ntext \"a\\q\"", 2, "unknown escape \\q"},
        {"QuibGetAllText 0\nraw \"\\x4\"", 2, "two hexadecimal digits"},
        {"QuibGetAllText 0\ntext \"a\"b", 2, "a blank must follow"},
        {"QuibGetAllText 0\ntext soon \"a\"", 2, "unknown timing \"soon\""},
        {"QuibGetAllText 0\ntext after -5 \"a\"", 2, "milliseconds"},
        {"QuibGetAllText 0\ntext after 600001 \"a\"", 2, "milliseconds"},
        {"QuibGetAllText 0\ntext \"a\" bare", 2, "quoted lines"},
        {"QuibGetAllText 0\nraw \"a\" \"b\"", 2, "one quoted string"},
        {"QuibSend 0\nmessage \"a\" x \"b\"", 2, "a number from -32768"},
        {"QuibSend 0\nmessage \"a\" 1", 2, "quoted text"},
        {"QuibGetAllText 0\nwrite avatar \"x\"", 2, "below a QuibCommunicate"},
        {"QuibCommunicate 0\nwrite speaker \"x\"", 2, "avatar or message"},
        {"\"QuibSend\" 0", 1, "not a string"},
        {"# fine\nQuibSend 0\n\nQuibSend 0 # fine\nQuibSend 0 x", 5, "unexpected \"x\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        const auto parsed = ParseScript(c.script);
        ASSERT_TRUE(std::holds_alternative<ScriptError>(parsed));
        const ScriptError& e = std::get<ScriptError>(parsed);
        EXPECT_EQ(e.line, c.line);
        EXPECT_NE(e.what.find(c.what), std::string::npos) << e.what;
    }
    const auto huge = ParseScript(std::string(kMaxScriptBytes + 1, '#'));
    ASSERT_TRUE(std::holds_alternative<ScriptError>(huge));
    EXPECT_EQ(std::get<ScriptError>(huge).line, 0);
}

TEST(CallLog, OneFlushedLinePerEventWithEscapedArguments) {
    const std::string path = ::testing::TempDir() + "vellquib_call_log_test.log";
    std::remove(path.c_str());
    {
        CallLog log;
        ASSERT_TRUE(log.Open(path));
        log.Call("17:05:09.042",
                 Invocation("QuibCommunicate", {QuotedArgument("Demo"), "2", QuotedArgument(""),
                                                QuotedArgument("a \"b\"\\ \t\xE9")}));
        log.Callback("17:05:09.043", Invocation("StatusCallback", {Quoted("6")}));
        log.Note("17:05:09.044", "script line 3: InitDDE returns 7");
        log.Call("17:05:09.045", Invocation("QuibGetAllText", {QuotedArgument(nullptr)}));
        log.Callback("17:05:09.046",
                     Invocation("TextCallback", {Quoted(std::string("A\r\n\0", 4)), "4"}));
        // Flushed per line: the file holds every line while the log is open.
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        EXPECT_EQ(
            text.str(),
            "17:05:09.042 > QuibCommunicate(\"Demo\", 2, \"\", \"a \\\"b\\\"\\\\ \\t\\xE9\")\n"
            "17:05:09.043 < StatusCallback(\"6\")\n"
            "17:05:09.044 ! script line 3: InitDDE returns 7\n"
            "17:05:09.045 > QuibGetAllText(null)\n"
            "17:05:09.046 < TextCallback(\"A\\r\\n\\0\", 4)\n");
    }
    // A second log appends.
    CallLog again;
    ASSERT_TRUE(again.Open(path));
    again.Call("17:05:10.000", "KillDDE()");
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("TextCallback(\"A\\r\\n\\0\", 4)\n17:05:10.000 > KillDDE()\n"),
              std::string::npos);
    std::remove(path.c_str());
}

}  // namespace
}  // namespace quib::standin
