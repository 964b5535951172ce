// The avatar-list extraction written the slow, literal way: the unread rest is
// copied on every call, and every membership test walks the list and
// lower-cases each entry anew. It is the yardstick that the fast code in
// text/ is compared with (property tests, fuzzers, benchmarks); it is not
// part of the program.
#pragma once

#include <cstdint>
#include <string>

#include "platform/error.h"
#include "platform/lowercase.h"
#include "text/avatar_list.h"

namespace quib::text::literal {

class Tokenizer {
  public:
    std::u16string GetToken(std::u16string sText, std::u16string sDelimiter) {
        if (!sText.empty()) {
            sRemainder = sText;
        }
        // 1-based position of the first occurrence, 0 when there is none; an
        // empty delimiter is found at position 1 of a non-empty remainder.
        int64_t found = 0;
        if (sDelimiter.empty()) {
            found = sRemainder.empty() ? 0 : 1;
        } else {
            const size_t at = sRemainder.find(sDelimiter);
            found = at == std::u16string::npos ? 0 : static_cast<int64_t>(at) + 1;
        }
        const int16_t p = NarrowTo16(found);
        std::u16string result;
        if (p == 0) {
            result = sRemainder;
            sRemainder.clear();
        } else {
            result = sRemainder.substr(0, static_cast<size_t>(p - 1));
            const int32_t from = p + static_cast<int32_t>(sDelimiter.size());
            sRemainder = static_cast<size_t>(from) > sRemainder.size()
                             ? std::u16string()
                             : sRemainder.substr(static_cast<size_t>(from - 1));
        }
        return result;
    }

    std::u16string sRemainder;
};

inline bool IsInList(std::u16string name, const AvatarListSink& list) {
    const std::u16string key = platform::LowerCaseUser(name);
    const int16_t n = NarrowTo16(list.Count());
    for (int16_t i = 0; i < n; ++i) {
        if (platform::LowerCaseUser(list.Entry(i)) == key) {
            return true;
        }
    }
    return false;
}

inline void FillAvatarList(Tokenizer& tokenizer, AvatarListSink& list, std::u16string text) {
    const std::u16string crlf = u"\r\n";
    list.Clear();
    std::u16string line = tokenizer.GetToken(text, crlf);
    while (!line.empty()) {
        if (line.substr(0, 6) == u"ESP to") {
            line = line.size() >= 8 ? line.substr(7) : std::u16string();
        } else if (line.substr(0, 8) == u"ESP from") {
            line = line.size() >= 10 ? line.substr(9) : std::u16string();
        }
        const size_t at = line.find(u": ");
        const int16_t p = NarrowTo16(at == std::u16string::npos ? 0 : static_cast<int64_t>(at) + 1);
        if (p > 0) {
            const std::u16string speaker = line.substr(0, static_cast<size_t>(p - 1));
            if (speaker != u"<system>") {
                if (!literal::IsInList(speaker, list)) {
                    list.Append(speaker);
                }
            }
        }
        line = tokenizer.GetToken(std::u16string(), crlf);
    }
}

}  // namespace quib::text::literal
