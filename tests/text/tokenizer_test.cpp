#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "platform/error.h"
#include "text/tokenizer.h"

namespace quib::text {
namespace {

const std::u16string kCrLf = u"\r\n";

struct Call {
    std::u16string text;
    std::u16string delimiter = kCrLf;
};

struct TokenCase {
    const char* name;
    std::vector<Call> calls;
    std::vector<std::u16string> results;
    std::u16string remainder;
    friend void PrintTo(const TokenCase& c, std::ostream* os) { *os << c.name; }
};

class TokenizerTable : public ::testing::TestWithParam<TokenCase> {};

TEST_P(TokenizerTable, PiecesAndRemainder) {
    const TokenCase& c = GetParam();
    LineTokenizer tokenizer;
    std::vector<std::u16string> results;
    for (const Call& call : c.calls) {
        results.push_back(tokenizer.GetToken(call.text, call.delimiter));
    }
    EXPECT_EQ(results, c.results);
    EXPECT_EQ(tokenizer.Remainder(), c.remainder);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, TokenizerTable,
    ::testing::Values(
        TokenCase{"TwoLines", {{u"a\r\nb"}, {u""}, {u""}}, {u"a", u"b", u""}, u""},
        TokenCase{"BlankLineGivesEmptyPiece",
                  {{u"a\r\n\r\nb"}, {u""}, {u""}, {u""}},
                  {u"a", u"", u"b", u""},
                  u""},
        TokenCase{"TrailingDelimiter", {{u"a\r\n"}, {u""}}, {u"a", u""}, u""},
        TokenCase{"NoDelimiter", {{u"abc"}, {u""}}, {u"abc", u""}, u""},
        TokenCase{"EmptyFirstCall", {{u""}}, {u""}, u""},
        TokenCase{"NewTextDiscardsUnreadRest", {{u"a\r\nb\r\nc"}, {u"x\r\ny"}}, {u"a", u"x"}, u"y"},
        TokenCase{"EmptyDelimiterConsumesNothing", {{u"a\r\nb"}, {u"", u""}}, {u"a", u""}, u"b"},
        TokenCase{"OtherDelimiter", {{u"x--y", u"--"}, {u"", u"--"}}, {u"x", u"y"}, u""},
        TokenCase{"CaseSensitive", {{u"aXb", u"x"}}, {u"aXb"}, u""},
        TokenCase{"DelimiterOverlapsItself", {{u"a---b", u"--"}, {u"", u"--"}}, {u"a", u"-b"}, u""},
        TokenCase{"PartialDelimiterAtEnd", {{u"ab\r"}, {u""}}, {u"ab\r", u""}, u""},
        TokenCase{"CrAloneIsNoDelimiter", {{u"a\rb\n\r\nc"}}, {u"a\rb\n"}, u"c"},
        TokenCase{"EmbeddedNul",
                  {{std::u16string(u"a\0b\r\nc", 6)}},
                  {std::u16string(u"a\0b", 3)},
                  u"c"}),
    [](const auto& info) { return std::string(info.param.name); });

// The delimiter's position is a 16-bit integer.
TEST(TokenizerLimits, DelimiterStartingAt32767IsTheLastThatFits) {
    LineTokenizer tokenizer;
    const std::u16string piece(32766, u'a');
    EXPECT_EQ(tokenizer.GetToken(piece + kCrLf + u"tail", kCrLf), piece);
    EXPECT_EQ(tokenizer.Remainder(), u"tail");
}

TEST(TokenizerLimits, DelimiterStartingAt32768IsOverflowWithNothingConsumed) {
    LineTokenizer tokenizer;
    const std::u16string text = std::u16string(32767, u'a') + kCrLf + u"tail";
    try {
        tokenizer.GetToken(text, kCrLf);
        FAIL() << "no error";
    } catch (const NumberedError& e) {
        EXPECT_EQ(e.Number(), kErrOverflow);
        EXPECT_EQ(e.Description(), u"Overflow");
    }
    EXPECT_EQ(tokenizer.Remainder(), text);
    // Still nothing consumed on a retry; a new text starts afresh.
    EXPECT_THROW(tokenizer.GetToken(u"", kCrLf), NumberedError);
    EXPECT_EQ(tokenizer.GetToken(u"x\r\ny", kCrLf), u"x");
}

TEST(TokenizerLimits, PositionCountsFromTheUnreadRestNotTheWholeText) {
    LineTokenizer tokenizer;
    const std::u16string longLine(32766, u'b');
    const std::u16string tooLong(32767, u'c');
    // Both long lines start far beyond character 32767 of the whole text.
    const std::u16string text =
        longLine + kCrLf + longLine + kCrLf + longLine + kCrLf + tooLong + kCrLf + u"z";
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(tokenizer.GetToken(i == 0 ? text : u"", kCrLf), longLine);
    }
    EXPECT_THROW(tokenizer.GetToken(u"", kCrLf), NumberedError);
    // The unread rest is left as it was.
    EXPECT_EQ(tokenizer.Remainder(), tooLong + kCrLf + u"z");
}

TEST(TokenizerLimits, RestWithoutDelimiterIsReturnedWholeAtAnyLength) {
    LineTokenizer tokenizer;
    const std::u16string text(100000, u'q');
    EXPECT_EQ(tokenizer.GetToken(u"a\r\n" + text, kCrLf), u"a");
    EXPECT_EQ(tokenizer.GetToken(u"", kCrLf), text);
    EXPECT_EQ(tokenizer.GetToken(u"", kCrLf), u"");
}

TEST(TokenizerViews, NextTokenWalksATextLikeGetToken) {
    LineTokenizer byView;
    LineTokenizer byCopy;
    const std::u16string text = u"one\r\n\r\nthree\r\nfour\r\n";
    std::u16string_view piece = byView.NextToken(text, kCrLf);
    EXPECT_EQ(piece, byCopy.GetToken(text, kCrLf));
    for (int i = 0; i < 5; ++i) {
        piece = byView.NextToken(u"", kCrLf);
        EXPECT_EQ(piece, byCopy.GetToken(u"", kCrLf));
        EXPECT_EQ(byView.Remainder(), byCopy.Remainder());
    }
}

TEST(TokenizerViews, StartWithEmptyTextDiscardsTheRest) {
    LineTokenizer tokenizer;
    tokenizer.GetToken(u"a\r\nb", kCrLf);
    tokenizer.Start(u"");
    EXPECT_EQ(tokenizer.Remainder(), u"");
    EXPECT_EQ(tokenizer.GetToken(u"", kCrLf), u"");
}

}  // namespace
}  // namespace quib::text
