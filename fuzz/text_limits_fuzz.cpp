// Host buffers at the 16-bit limits: a line or a name of around 32767
// characters (of one or two bytes each) among short chat pieces, NULs and the
// host's frame, through the text callback and then the fast and the literal
// text analysis. Few lines per buffer, so that the literal way, which copies
// the unread rest for every line, stays cheap at this length.
#include <fuzzer/FuzzedDataProvider.h>

#include <clocale>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/differential.h"

namespace {

using namespace std::string_view_literals;

const std::string_view kPieces[] = {"\r\n"sv,       "\r\n"sv,       ": "sv,  ": "sv,  "ESP to "sv,
                                    "ESP from "sv,  "Bob"sv,        "bob"sv, "BOB"sv, "<system>"sv,
                                    "\xC3\x89ve"sv, "\xC3\xA9VE"sv, "x"sv,   "\0"sv,  "abcd"sv,
                                    "\r"sv,         "\n"sv,         "\xFF"sv};

// One run: one character repeated, one or two bytes each.
void AppendRun(FuzzedDataProvider& in, std::string& bytes) {
    // Mostly right around the limits: a line end after character 32766,
    // 32767 or 32768, a ": " that starts there, a NUL that frames there.
    const size_t n = in.ConsumeIntegralInRange(0, 3) != 0 ? 32760 + in.ConsumeIntegralInRange(0, 10)
                                                          : in.ConsumeIntegralInRange(0, 40000);
    switch (in.ConsumeIntegralInRange(0, 2)) {
        case 0:
            bytes.append(n, 'a');
            break;
        case 1:
            bytes.append(n, 'N');
            break;
        default:
            bytes.reserve(bytes.size() + 2 * n);
            for (size_t i = 0; i < n; ++i) {
                bytes += "\xC3\xA9";  // one character of two bytes
            }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::setlocale(LC_ALL, "C.UTF-8");  // as in text_callback_fuzz.cpp
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    std::string bytes;
    bool run = false;  // one long line or name per buffer is enough
    const int pieces = in.ConsumeIntegralInRange(1, 24);
    // Each piece may end a line: the pieces so far bound the lines.
    for (int i = 0; i < pieces && in.remaining_bytes() > 0 &&
                    quib::fuzz::WithinLiteralBudget(bytes.size(), static_cast<size_t>(i));
         ++i) {
        if (!run && in.ConsumeIntegralInRange(0, 3) == 0) {
            AppendRun(in, bytes);
            run = true;
        } else {
            bytes += kPieces[in.ConsumeIntegralInRange<size_t>(0, std::size(kPieces) - 1)];
        }
    }
    quib::fuzz::CheckHostBuffer(bytes.data(), bytes.size());
    return 0;
}
