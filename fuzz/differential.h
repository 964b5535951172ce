// What the fuzz targets share: running the fast and the literal text analysis
// side by side and stopping the fuzzer at the first difference.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

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

// Only error 6 may come out of the text analysis.
inline void ExpectOnlyOverflow(const Outcome& out) {
    Expect(out.error == 0 || out.error == kErrOverflow, "an error other than 6");
}

}  // namespace quib::fuzz
