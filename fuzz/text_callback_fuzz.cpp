// The host's bytes as the text callback receives them: decoded, cut before
// the frame, trimmed of trailing line ends, then cut into lines and turned
// into the avatar list, the fast way and the literal way.
#include <clocale>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

#include "bridge/modQUIB.h"
#include "fuzz/differential.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A UTF-8 system code page: multi-byte sequences, undecodable bytes and
    // letters beyond ASCII that have a lower case.
    std::setlocale(LC_ALL, "C.UTF-8");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quib::fuzz;
    if (size > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
        return 0;
    }
    const uint32_t deliveries = modQUIB::gTextDeliveries;
    modQUIB::TextCallback(reinterpret_cast<const char*>(data), static_cast<int32_t>(size));
    modQUIB::RethrowCallbackFailure();
    Expect(modQUIB::gTextDeliveries == deliveries + 1, "delivery not counted");

    const std::u16string text = modQUIB::gTextBuffer;
    Expect(text.size() <= size, "decoding made more characters than bytes");
    Expect(!(text.size() >= 2 && text.ends_with(u"\r\n")), "trailing CR LF left");

    // Line by line with the tokenizer, to the end or the first error.
    quib::text::LineTokenizer fast;
    quib::text::literal::Tokenizer literal;
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
    return 0;
}
