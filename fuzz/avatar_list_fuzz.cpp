// Chat texts put together from the pieces the extraction looks for (names in
// any case, ESP prefixes, ": ", "<system>", line ends, blank lines, runs up to
// the 16-bit limits), scanned twice in a row on the same tokenizer, the fast
// extraction against the literal one.
#include <fuzzer/FuzzedDataProvider.h>

#include <clocale>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/differential.h"

namespace {

const std::u16string kPieces[] = {
    u"\r\n",   u"\r\n",     u"\r\n",  u": ",     u": ",    u":",        u" ",        u"\n",
    u"\r",     u"Bob",      u"bob",   u"BOB",    u"alice", u"ALICE",    u"<system>", u"<SYSTEM>",
    u"ESP to", u"ESP from", u"ESP t", u"esp to", u"x",     u"\u00C9ve", u"\u00E9VE", u"12:30 "};

std::u16string MakeText(FuzzedDataProvider& in) {
    std::u16string text;
    const int pieces = in.ConsumeIntegralInRange(1, 64);
    // One line at a 16-bit limit is enough; each piece may end a line, so the
    // pieces so far bound the lines.
    for (int i = 0; i < pieces && in.remaining_bytes() > 0 && text.size() < 40000 &&
                    quib::fuzz::WithinLiteralBudget(text.size(), static_cast<size_t>(i));
         ++i) {
        if (in.ConsumeIntegralInRange(0, 15) == 0) {
            const size_t n = in.ConsumeBool() ? 32760 + in.ConsumeIntegralInRange(0, 10)
                                              : in.ConsumeIntegralInRange(0, 40000);
            text.append(n, in.ConsumeBool() ? u'n' : u'N');
        } else {
            text += kPieces[in.ConsumeIntegralInRange<size_t>(0, std::size(kPieces) - 1)];
        }
    }
    return text.empty() ? u"x" : text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::setlocale(LC_ALL, "C.UTF-8");  // the lower-casing of the letters beyond ASCII
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quib::fuzz;
    FuzzedDataProvider in(data, size);
    quib::text::LineTokenizer fast;
    quib::text::literal::Tokenizer literal;
    for (int scan = 0; scan < 2; ++scan) {
        const std::u16string text = MakeText(in);
        const Outcome a = Scan(fast, text);
        const Outcome b = Scan(literal, text);
        Expect(a == b, "FillAvatarList");
        ExpectOnlyOverflow(a);
    }
    return 0;
}
