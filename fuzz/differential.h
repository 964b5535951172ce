// What the fuzz targets share: running the fast and the literal text analysis
// side by side and stopping the fuzzer at the first difference.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bridge/modQUIB.h"
#include "platform/error.h"
#include "tests/text/literal_avatar_list.h"
#include "tests/text/vector_sink.h"
#include "text/avatar_list.h"
#include "text/tokenizer.h"

namespace quib::fuzz {

// The result of one call or one scan: the list (for a scan), the piece (for a
// call), the error number (0 for none) and the unread rest afterwards.
struct Outcome {
    std::vector<std::u16string> entries;
    std::u16string piece;
    int32_t error = 0;
    std::u16string remainder;
    bool operator==(const Outcome&) const = default;
};

inline void Expect(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "fast and literal text analysis differ: %s\n", what);
        std::abort();
    }
}

// Any exception other than a numbered error escapes and is reported as a crash.
template <typename Body>
int32_t ErrorOf(Body body) {
    try {
        body();
    } catch (const NumberedError& e) {
        return e.Number();
    }
    return 0;
}

inline Outcome Scan(text::LineTokenizer& tokenizer, const std::u16string& text) {
    Outcome out;
    text::test::VectorSink list;
    out.error = ErrorOf([&] { text::FillAvatarList(tokenizer, list, text); });
    out.entries = list.entries;
    out.remainder = std::u16string(tokenizer.Remainder());
    return out;
}

inline Outcome Scan(text::literal::Tokenizer& tokenizer, const std::u16string& text) {
    Outcome out;
    text::test::VectorSink list;
    out.error = ErrorOf([&] { text::literal::FillAvatarList(tokenizer, list, text); });
    out.entries = list.entries;
    out.remainder = tokenizer.sRemainder;
    return out;
}

inline Outcome Cut(text::LineTokenizer& tokenizer, const std::u16string& text,
                   const std::u16string& delimiter) {
    Outcome out;
    out.error = ErrorOf([&] { out.piece = tokenizer.GetToken(text, delimiter); });
    out.remainder = std::u16string(tokenizer.Remainder());
    return out;
}

inline Outcome Cut(text::literal::Tokenizer& tokenizer, const std::u16string& text,
                   const std::u16string& delimiter) {
    Outcome out;
    out.error = ErrorOf([&] { out.piece = tokenizer.GetToken(text, delimiter); });
    out.remainder = tokenizer.sRemainder;
    return out;
}

// The literal analysis copies the unread rest for every line it cuts, so a
// text costs it about its length times its lines. The targets keep each input
// under this many characters copied: a line at a 16-bit limit then comes with
// a few short ones at most, and every target runs thousands of inputs a
// second under the sanitizers.
inline constexpr size_t kLiteralBudget = size_t{1} << 17;

// True while a text of this length with at most this many lines stays within
// the budget.
inline bool WithinLiteralBudget(size_t length, size_t lines) {
    return length * (lines + 1) <= kLiteralBudget;
}

// Only error 6 may come out of the text analysis.
inline void ExpectOnlyOverflow(const Outcome& out) {
    Expect(out.error == 0 || out.error == kErrOverflow, "an error other than 6");
}

// The host's bytes through the text callback (decoded, cut before the frame,
// trimmed of trailing line ends), then cut into lines and turned into the
// avatar list, the fast way and the literal way. The literal way copies the
// unread rest for every line: callers keep the number of lines small where
// the text is long.
inline void CheckHostBuffer(const char* bytes, size_t size) {
    if (size > static_cast<size_t>(INT32_MAX)) {
        return;  // more than a callback can be given
    }
    const uint32_t deliveries = quib::modQUIB::State().gTextDeliveries;
    quib::modQUIB::TextCallback(bytes, static_cast<int32_t>(size));
    quib::modQUIB::RethrowCallbackFailure();
    Expect(quib::modQUIB::State().gTextDeliveries == deliveries + 1, "delivery not counted");

    const std::u16string text = quib::modQUIB::State().gTextBuffer;
    Expect(text.size() <= size, "decoding made more characters than bytes");
    Expect(!(text.size() >= 2 && text.ends_with(u"\r\n")), "trailing CR LF left");

    text::LineTokenizer fast;
    size_t lines = 0;
    for (size_t at = text.find(u"\r\n"); at != std::u16string::npos;
         at = text.find(u"\r\n", at + 2)) {
        ++lines;
    }
    if (!WithinLiteralBudget(text.size(), lines)) {
        // Too many lines for the literal way: the fast scan alone, for the
        // sanitizers and the errors it may raise.
        if (!text.empty()) {
            ExpectOnlyOverflow(Scan(fast, text));
        }
        return;
    }

    // Line by line with the tokenizer, to the end or the first error.
    text::literal::Tokenizer literal;
    for (size_t call = 0; call <= text.size() + 1; ++call) {
        const std::u16string in = call == 0 ? text : std::u16string();
        const Outcome a = Cut(fast, in, u"\r\n");
        const Outcome b = Cut(literal, in, u"\r\n");
        Expect(a == b, "GetToken");
        ExpectOnlyOverflow(a);
        if (a.error != 0 || (a.piece.empty() && a.remainder.empty())) {
            break;
        }
    }

    // The extraction is only ever handed a non-empty text.
    if (!text.empty()) {
        const Outcome a = Scan(fast, text);
        const Outcome b = Scan(literal, text);
        Expect(a == b, "FillAvatarList");
        ExpectOnlyOverflow(a);
    }
}

}  // namespace quib::fuzz
