#include <gtest/gtest.h>

#include <string>

#include "bridge/modQUIB.h"
#include "tests/support/fake_host.h"

namespace quib::modQUIB {
namespace {

using quib::test::FakeHost;

class Callbacks : public ::testing::Test {
  protected:
    void SetUp() override { FakeHost::Get().Reset(); }
    static void Text(const std::string& bytes) {
        TextCallback(bytes.data(), static_cast<int32_t>(bytes.size()));
    }
};

TEST_F(Callbacks, StatusIsStoredUnchangedAndReplacedWhole) {
    StatusCallback("6", 1);
    EXPECT_EQ(State().gStatus, u"6");
    StatusCallback("10", 2);
    EXPECT_EQ(State().gStatus, u"10");
    StatusCallback("", 0);
    EXPECT_EQ(State().gStatus, u"");
}

TEST_F(Callbacks, CountedStringsHonourLengthNotNul) {
    StatusCallback("0xyz", 1);
    EXPECT_EQ(State().gStatus, u"0");
    StatusCallback("a\0b", 3);
    EXPECT_EQ(State().gStatus, std::u16string(u"a\0b", 3));
    // Unusable counts: negative length, null pointer with any length.
    StatusCallback("abc", -5);
    EXPECT_EQ(State().gStatus, u"");
    StatusCallback(nullptr, 7);
    EXPECT_EQ(State().gStatus, u"");
    StatusCallback(nullptr, 0);
    EXPECT_EQ(State().gStatus, u"");
}

TEST_F(Callbacks, NonAsciiStatusArrivesIntact) {
#ifdef _WIN32
    StatusCallback("Zo\xEB", 3);  // code page 1252
    EXPECT_EQ(State().gStatus, u"Zo\u00EB");
#else
    std::setlocale(LC_ALL, "C.UTF-8");
    StatusCallback("Zo\xC3\xAB", 4);
    EXPECT_EQ(State().gStatus, u"Zo\u00EB");
    std::setlocale(LC_ALL, "C");
#endif
}

TEST_F(Callbacks, MessageStoresBothTextsAndTheNumberOnly) {
    StatusCallback("0", 1);
    Text("kept");
    MessageCallback("first", 5, 7, "second\0x", 8);
    EXPECT_EQ(State().gMessageText1, u"first");
    EXPECT_EQ(State().gMessageText2, std::u16string(u"second\0x", 8));
    EXPECT_EQ(State().gMessageNumber, 7);
    EXPECT_EQ(State().gStatus, u"0");
    EXPECT_EQ(State().gTextBuffer, u"kept");
    MessageCallback(nullptr, 0, -32768, "", -1);
    EXPECT_EQ(State().gMessageText1, u"");
    EXPECT_EQ(State().gMessageText2, u"");
    EXPECT_EQ(State().gMessageNumber, -32768);
}

TEST_F(Callbacks, TextBufferTrimming) {
    struct Case {
        const char* name;
        std::string in;
        std::u16string out;
    };
    using namespace std::string_literals;
    const Case cases[] = {
        {"eight letters, NUL, more", "abcdefgh\0xyz"s, u"abcd"},
        {"NUL at position 6", "abcde\0"s, u"a"},
        {"NUL at position 5 stays", "abcd\0"s, u"abcd\0"s},
        {"NUL at position 1 stays", "\0abc"s, u"\0abc"s},
        {"NUL at 3: whole text, true end", "ab\0cd\r\n"s, u"ab\0cd"s},
        {"no NUL, two CR LF", "text\r\n\r\n"s, u"text"},
        {"LF CR kept", "text\n\r"s, u"text\n\r"},
        {"CR LF then other kept", "text\r\nx"s, u"text\r\nx"},
        {"only CR LF pairs", "\r\n\r\n\r\n"s, u""},
        {"lone CR LF half", "\n"s, u"\n"},
        {"cut brings CR LF to the end", "abcde\r\nwxyz\0"s, u"abcde"},
        {"framed host text", "Bob: hi\r\nAnn: yo\r\n####\0"s, u"Bob: hi\r\nAnn: yo"},
        {"second NUL ignored", "abcdefgh\0ij\0"s, u"abcd"},
        {"empty", ""s, u""},
    };
    for (const auto& c : cases) {
        const uint32_t before = State().gTextDeliveries;
        Text(c.in);
        EXPECT_EQ(State().gTextBuffer, c.out) << c.name;
        EXPECT_EQ(State().gTextDeliveries, before + 1) << c.name;
    }
}

TEST_F(Callbacks, ALargeTextsStorageIsKeptForTheNextAndGivenBackForASmallOne) {
    Text(std::string(4u << 20, 'a'));
    const char16_t* storage = State().gTextBuffer.data();
    Text(std::string(3u << 20, 'b'));
    EXPECT_EQ(State().gTextBuffer.data(), storage);
    EXPECT_EQ(State().gTextBuffer, std::u16string(3u << 20, u'b'));
    Text("tiny");
    EXPECT_EQ(State().gTextBuffer, u"tiny");
    EXPECT_LT(State().gTextBuffer.capacity(), 1u << 20);
}

}  // namespace
}  // namespace quib::modQUIB
