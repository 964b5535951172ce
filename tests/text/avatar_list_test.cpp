#include <gtest/gtest.h>

#include <clocale>
#include <ostream>
#include <string>
#include <vector>

#include "platform/error.h"
#include "tests/text/vector_sink.h"
#include "text/avatar_list.h"

namespace quib::text {
namespace {

using test::VectorSink;
using Entries = std::vector<std::u16string>;

Entries Scan(const std::u16string& text) {
    LineTokenizer tokenizer;
    VectorSink list;
    FillAvatarList(tokenizer, list, text);
    return list.entries;
}

std::u16string Lines(const std::vector<std::u16string>& lines) {
    std::u16string text;
    for (size_t i = 0; i < lines.size(); ++i) {
        text += (i ? u"\r\n" : u"") + lines[i];
    }
    return text;
}

struct ScanCase {
    const char* name;
    std::u16string text;
    Entries expected;
    friend void PrintTo(const ScanCase& c, std::ostream* os) { *os << c.name; }
};

class SingleLines : public ::testing::TestWithParam<ScanCase> {};
class WholeTexts : public ::testing::TestWithParam<ScanCase> {};

TEST_P(SingleLines, Entries) {
    EXPECT_EQ(Scan(GetParam().text), GetParam().expected);
}
TEST_P(WholeTexts, Entries) {
    EXPECT_EQ(Scan(GetParam().text), GetParam().expected);
}

const auto kName = [](const auto& info) { return std::string(info.param.name); };

INSTANTIATE_TEST_SUITE_P(
    Scan, SingleLines,
    ::testing::Values(ScanCase{"Plain", u"Bob: hello", {u"Bob"}},
                      ScanCase{"EspFrom", u"ESP from Bob: hi", {u"Bob"}},
                      ScanCase{"EspTo", u"ESP to Alice: see you", {u"Alice"}},
                      ScanCase{"System", u"<system>: server restarts", {}},
                      ScanCase{"SystemAfterPrefix", u"ESP from <system>: x", {}},
                      ScanCase{"SystemOtherCase", u"<System>: x", {u"<System>"}},
                      ScanCase{"NoColon", u"Bob hello", {}},
                      ScanCase{"ColonWithoutBlank", u"Bob:hello", {}},
                      ScanCase{"PrefixWithoutColon", u"ESP from Bob", {}},
                      ScanCase{"LowerCasePrefix", u"esp from Bob: hi", {u"esp from Bob"}},
                      ScanCase{"PrefixSkipsAnyCharacter", u"ESP tomorrow: x", {u"orrow"}},
                      ScanCase{"EspFromMatchesAsEspFrom", u"ESP fromXBob: x", {u"Bob"}},
                      ScanCase{"ColonFirst", u": hello", {u""}},
                      ScanCase{"BlankKept", u"Bob : x", {u"Bob "}},
                      ScanCase{"LeadingBlankKept", u" Bob: x", {u" Bob"}},
                      ScanCase{"OnlyColonBlankSeparates", u"12:30 Bob: hi", {u"12:30 Bob"}},
                      ScanCase{"FirstColonBlankWins", u"a: b: c", {u"a"}},
                      ScanCase{"PrefixAndOneCharacter", u"ESP to:", {}},
                      ScanCase{"PrefixColonRightAfter", u"ESP to : x", {u""}}),
    kName);

INSTANTIATE_TEST_SUITE_P(
    Scan, WholeTexts,
    ::testing::Values(
        ScanCase{"FirstAppearanceOrder",
                 Lines({u"Carol: x", u"Bob: y", u"Carol: z"}),
                 {u"Carol", u"Bob"}},
        ScanCase{"FirstSpellingKept", Lines({u"Bob: a", u"bob: b", u"BOB: c"}), {u"Bob"}},
        ScanCase{"BlankLineEndsScan", Lines({u"Bob: a", u"", u"Carol: b"}), {u"Bob"}},
        ScanCase{"LeadingLineEnd", u"\r\nBob: a", {}},
        ScanCase{"LineFeedsAloneAreOneLine", u"Bob: a\nCarol: b", {u"Bob"}},
        ScanCase{"LineFeedInsideName", u"x\nBob: a\nCarol: b", {u"x\nBob"}},
        ScanCase{"EmptiedByPrefixDoesNotEndScan", Lines({u"ESP to", u"Bob: hi"}), {u"Bob"}},
        ScanCase{"TrailingLineEnd", u"Carol: x\r\nBob: y\r\n", {u"Carol", u"Bob"}},
        ScanCase{"EmptyNameOnce", Lines({u": a", u"Bob: b", u": c"}), {u"", u"Bob"}},
        ScanCase{"PrefixedAndPlainAreTheSameName",
                 Lines({u"ESP from bob: hi", u"Bob: hey", u"ESP to BOB: yo"}),
                 {u"bob"}},
        ScanCase{"LinesWithoutSpeakerSkipped",
                 Lines({u"Bob: a", u"joins the room", u"<system>: x", u"Eve: b"}),
                 {u"Bob", u"Eve"}},
        ScanCase{"EmptyText", u"", {}}),
    kName);

TEST(FillAvatarList, SecondScanHoldsOnlyItsOwnSpeakers) {
    LineTokenizer tokenizer;
    VectorSink list;
    FillAvatarList(tokenizer, list, Lines({u"Bob: a", u"", u"Dan: unread"}));
    FillAvatarList(tokenizer, list, Lines({u"Carol: b", u"bob: c"}));
    EXPECT_EQ(list.entries, (Entries{u"Carol", u"bob"}));
}

TEST(FillAvatarList, EmptyTextDoesNotScanAnEarlierUnreadRest) {
    LineTokenizer tokenizer;
    VectorSink list;
    FillAvatarList(tokenizer, list, Lines({u"Bob: a", u"", u"Dan: unread"}));
    FillAvatarList(tokenizer, list, u"");
    EXPECT_EQ(list.entries, Entries{});
}

TEST(FillAvatarList, NonAsciiNamesCompareWithoutCase) {
    // U+00C9/U+00E9 and U+0394/U+03B4 are case pairs in the user's locale
    // under Windows and in a UTF-8 locale of the C library.
#ifndef _WIN32
    std::setlocale(LC_ALL, "C.UTF-8");
#endif
    EXPECT_EQ(Scan(Lines({u"\u00C9ve: a", u"\u00E9ve: b", u"\u0394ora: c", u"\u03B4ora: d"})),
              (Entries{u"\u00C9ve", u"\u0394ora"}));
}

TEST(FillAvatarList, ManySpeakersEachListedOnce) {
    Entries names;
    std::u16string text;
    for (int i = 0; i < 20000; ++i) {
        const std::string digits = std::to_string(i * 7919 % 20000);
        names.push_back(u"Av");
        names.back().append(digits.begin(), digits.end());
        text += names.back() + u": hi\r\n";
    }
    // Every name again, in another case and behind a prefix, in reverse order.
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
        text += u"ESP from AV" + it->substr(2) + u": hey\r\n";
    }
    EXPECT_EQ(Scan(text), names);
}

// --- The 16-bit limits --------------------------------------------------------

// Scans the text, expecting error 6; returns the list as the error left it.
Entries ScanToOverflow(const std::u16string& text) {
    LineTokenizer tokenizer;
    VectorSink list;
    try {
        FillAvatarList(tokenizer, list, text);
        ADD_FAILURE() << "no error";
    } catch (const NumberedError& e) {
        EXPECT_EQ(e.Number(), kErrOverflow);
    }
    return list.entries;
}

TEST(FillAvatarListLimits, LongestLineBeforeLineEnd) {
    const std::u16string fits = u"Eve: " + std::u16string(32761, u'x');  // 32766 characters
    EXPECT_EQ(Scan(Lines({u"Bob: a", fits, u"Dan: b"})), (Entries{u"Bob", u"Eve", u"Dan"}));
    EXPECT_EQ(ScanToOverflow(Lines({u"Bob: a", fits + u"x", u"Dan: b"})), Entries{u"Bob"});
}

TEST(FillAvatarListLimits, LastLineWithoutLineEndMayBeOfAnyLength) {
    EXPECT_EQ(Scan(Lines({u"Bob: a", u"Eve: " + std::u16string(100000, u'x')})),
              (Entries{u"Bob", u"Eve"}));
    EXPECT_EQ(Scan(u"Bob: a\r\n" + std::u16string(100000, u'x')), Entries{u"Bob"});
}

TEST(FillAvatarListLimits, ColonBlankPosition) {
    const std::u16string name(32766, u'n');  // ": " at 32767
    EXPECT_EQ(Scan(u"Bob: a\r\n" + name + u": x"), (Entries{u"Bob", name}));
    EXPECT_EQ(ScanToOverflow(u"Bob: a\r\n" + name + u"n: x\r\nDan: b"), Entries{u"Bob"});
    // Counted after the prefix is removed.
    EXPECT_EQ(Scan(u"ESP from " + name + u": x"), Entries{name});
    EXPECT_EQ(ScanToOverflow(u"Bob: a\r\nESP to " + name + u"n: x"), Entries{u"Bob"});
    // A long line without ": " is no error.
    EXPECT_EQ(Scan(u"Bob: a\r\n" + std::u16string(40000, u'n') + u":x"), Entries{u"Bob"});
}

TEST(FillAvatarListLimits, ListCountedInSixteenBits) {
    // 32768 distinct names fit (the last one is tested against 32767 entries);
    // the next speaker line, even a known one, overflows the count.
    std::u16string text;
    for (int i = 0; i < 32768; ++i) {
        const std::string digits = std::to_string(i);
        text += u'n';
        text.append(digits.begin(), digits.end());
        text += u": x\r\n";
    }
    const Entries full = Scan(text);
    ASSERT_EQ(full.size(), 32768u);
    // Lines that never reach the membership test pass.
    EXPECT_EQ(Scan(text + u"<system>: x\r\nno speaker\r\n").size(), 32768u);
    EXPECT_EQ(ScanToOverflow(text + u"N0: again"), full);
}

// --- IsInList -------------------------------------------------------------------

TEST(IsInList, ComparesLowerCasedCopies) {
    VectorSink list;
    EXPECT_FALSE(IsInList(u"", list));
    list.entries = {u"Bob", u"CAROL", u""};
    EXPECT_TRUE(IsInList(u"bOB", list));
    EXPECT_TRUE(IsInList(u"carol", list));
    EXPECT_TRUE(IsInList(u"", list));
    EXPECT_FALSE(IsInList(u"Bo", list));
    EXPECT_FALSE(IsInList(u"Bob ", list));
    EXPECT_EQ(list.entries, (Entries{u"Bob", u"CAROL", u""}));  // unchanged
}

TEST(IsInList, MoreThan32767EntriesIsOverflow) {
    VectorSink list;
    list.entries.assign(32767, u"x");
    EXPECT_TRUE(IsInList(u"X", list));
    list.entries.push_back(u"y");
    EXPECT_THROW(IsInList(u"X", list), NumberedError);
}

}  // namespace
}  // namespace quib::text
