// Sequences of GetToken calls on one tokenizer: new texts (with long runs that
// reach the 16-bit position limit) and continuations with various delimiters,
// the fast tokenizer against the literal one call by call.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/differential.h"

namespace {

const std::u16string kDelimiters[] = {u"\r\n", u"", u"-", u"--", u"x", u"\r", u"aa", u"\r\n\r\n"};
const char16_t kAlphabet[] = {u'a', u'b', u'x', u'X', u'-', u'\r', u'\n', u'\0', u'\u00E9'};

std::u16string MakeText(FuzzedDataProvider& in) {
    std::u16string text;
    const int segments = in.ConsumeIntegralInRange(0, 24);
    // Long enough for a line at the 16-bit limit, short enough for the
    // literal tokenizer's copies.
    for (int i = 0; i < segments && in.remaining_bytes() > 0 && text.size() < 40000; ++i) {
        if (in.ConsumeIntegralInRange(0, 31) == 0) {
            // A run around the limit: 32766..32769 characters or any up to 70000.
            const size_t n = in.ConsumeBool() ? 32766 + in.ConsumeIntegralInRange(0, 3)
                                              : in.ConsumeIntegralInRange(0, 70000);
            text.append(n, u'a');
        } else {
            text.push_back(
                kAlphabet[in.ConsumeIntegralInRange<size_t>(0, std::size(kAlphabet) - 1)]);
        }
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quib::fuzz;
    FuzzedDataProvider in(data, size);
    quib::text::LineTokenizer fast;
    quib::text::literal::Tokenizer literal;
    size_t copied = 0;  // characters the literal tokenizer has copied so far
    for (int call = 0; call < 200 && in.remaining_bytes() > 0 && copied <= kLiteralBudget; ++call) {
        const std::u16string text = in.ConsumeIntegralInRange(0, 5) == 0 ? MakeText(in) : u"";
        copied += text.size() + literal.sRemainder.size();
        const std::u16string& delimiter =
            kDelimiters[in.ConsumeIntegralInRange<size_t>(0, std::size(kDelimiters) - 1)];
        const Outcome a = Cut(fast, text, delimiter);
        const Outcome b = Cut(literal, text, delimiter);
        Expect(a == b, "GetToken");
        ExpectOnlyOverflow(a);
    }
    return 0;
}
