// The fast extraction against the literal one on many random texts: the same
// list, the same error at the same line, the same unread rest.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "platform/error.h"
#include "tests/text/literal_avatar_list.h"
#include "tests/text/vector_sink.h"
#include "text/avatar_list.h"

namespace quib::text {
namespace {

struct Outcome {
    std::vector<std::u16string> entries;
    int32_t error = 0;
    std::u16string remainder;
    bool operator==(const Outcome&) const = default;
};

Outcome RunFast(LineTokenizer& tokenizer, const std::u16string& text) {
    Outcome out;
    test::VectorSink list;
    try {
        FillAvatarList(tokenizer, list, text);
    } catch (const NumberedError& e) {
        out.error = e.Number();
    }
    out.entries = list.entries;
    out.remainder = std::u16string(tokenizer.Remainder());
    return out;
}

Outcome RunLiteral(literal::Tokenizer& tokenizer, const std::u16string& text) {
    Outcome out;
    test::VectorSink list;
    try {
        literal::FillAvatarList(tokenizer, list, text);
    } catch (const NumberedError& e) {
        out.error = e.Number();
    }
    out.entries = list.entries;
    out.remainder = tokenizer.sRemainder;
    return out;
}

class TextGenerator {
  public:
    explicit TextGenerator(uint32_t seed) : rng_(seed) {}

    // longLines: put some lines and names right around the 16-bit limits.
    std::u16string Text(bool longLines) {
        std::u16string text;
        if (Chance(5)) {
            text += u"\r\n";
        }
        const int lines = Below(40) + 1;
        for (int i = 0; i < lines; ++i) {
            if (i > 0) {
                text += u"\r\n";
            }
            // At most a few lines reach a limit, often the last one: only a
            // line without CR LF after it can reach the ": " limit.
            const bool isLong = longLines && (i == lines - 1 ? Chance(60) : Chance(4));
            text += Line(isLong);
        }
        if (Chance(longLines ? 5 : 20)) {
            text += u"\r\n";
        }
        if (text.empty()) {
            text.push_back(u'x');  // the extraction is only ever given a non-empty text
        }
        return text;
    }

  private:
    int Below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
    bool Chance(int percent) { return Below(100) < percent; }

    std::u16string MixCase(std::u16string s) {
        for (char16_t& c : s) {
            if (Chance(30)) {
                if (c >= u'a' && c <= u'z') {
                    c = static_cast<char16_t>(c - u'a' + u'A');
                } else if (c >= u'A' && c <= u'Z') {
                    c = static_cast<char16_t>(c - u'A' + u'a');
                } else if (c == u'\u00E9') {
                    c = u'\u00C9';
                } else if (c == u'\u00C9') {
                    c = u'\u00E9';
                }
            }
        }
        return s;
    }

    std::u16string Name(bool longName) {
        static const std::u16string kNames[] = {
            u"bob", u"Alice", u"carol", u"dan",       u"\u00C9ve", u"<system>", u"<SYSTEM>",
            u"",    u" bob",  u"bob ",  u"12:30 bob", u"ESP",      u"a:b",      u"x\ny"};
        if (longName) {
            // The ": " after it starts at 32765..32769.
            return std::u16string(static_cast<size_t>(32764 + Below(5)), u'n');
        }
        const std::u16string& name = kNames[Below(std::size(kNames))];
        return name == u"<system>" && Chance(70) ? name : MixCase(name);
    }

    // isLong: a name or a whole line right around a 16-bit limit.
    std::u16string Line(bool isLong) {
        const bool longName = isLong && Chance(50);
        if (Chance(3)) {
            return u"";  // a blank line ends the scan
        }
        std::u16string line;
        switch (Below(10)) {
            case 0:
                line = u"ESP to";
                break;
            case 1:
                line = u"ESP from";
                break;
            case 2:
                line = Chance(50) ? u"ESP t" : u"esp to";
                break;
            default:
                break;
        }
        if (!line.empty() && Chance(80)) {
            line += Chance(80) ? u' ' : u':';  // the one skipped character
        }
        switch (Below(8)) {
            case 0:
                line += u"no speaker here";
                break;
            case 1:
                line += Name(longName) + u":x";
                break;
            default:
                line += Name(longName) + u": " + (Chance(20) ? u"a: b" : u"hello");
                break;
        }
        if (isLong && !longName) {
            // Brings the line to 32764..32768 characters when it is shorter.
            const size_t target = static_cast<size_t>(32764 + Below(5));
            if (line.size() < target) {
                line += std::u16string(target - line.size(), u'.');
            }
        }
        return line;
    }

    std::mt19937 rng_;
};

class FastMatchesLiteral : public ::testing::Test {
  protected:
    void SetUp() override {
#ifndef _WIN32
        std::setlocale(LC_ALL, "C.UTF-8");  // non-ASCII case pairs map
#endif
    }

    // The two extractions keep their tokenizers across scans, as the window does.
    void Check(uint32_t seed, int texts, bool longLines) {
        TextGenerator gen(seed);
        LineTokenizer fast;
        literal::Tokenizer slow;
        int errors = 0;
        for (int i = 0; i < texts; ++i) {
            const std::u16string text = gen.Text(longLines);
            const Outcome expected = RunLiteral(slow, text);
            ASSERT_EQ(RunFast(fast, text), expected) << "text " << i << " of seed " << seed;
            errors += expected.error != 0;
        }
        if (longLines) {
            EXPECT_GT(errors, 0);  // the limits were really reached
        }
    }
};

TEST_F(FastMatchesLiteral, ShortLines) {
    Check(20261207, 3000, false);
}

TEST_F(FastMatchesLiteral, LinesAroundTheLimits) {
    Check(4242, 300, true);
}

}  // namespace
}  // namespace quib::text
