#include "text/avatar_list.h"

#include <string_view>
#include <unordered_set>
#include <utility>

#include "platform/error.h"
#include "platform/lowercase.h"

namespace quib::text {

namespace {

constexpr std::u16string_view kLineEnd = u"\r\n";
constexpr std::u16string_view kEspTo = u"ESP to";
constexpr std::u16string_view kEspFrom = u"ESP from";
constexpr std::u16string_view kSpeakerEnd = u": ";
constexpr std::u16string_view kSystem = u"<system>";

// Drops an "ESP to" or "ESP from" prefix together with the one character
// after it, whatever that character is.
std::u16string_view WithoutEspPrefix(std::u16string_view line) {
    size_t skip = 0;
    if (line.starts_with(kEspTo)) {
        skip = kEspTo.size() + 1;
    } else if (line.starts_with(kEspFrom)) {
        skip = kEspFrom.size() + 1;
    } else {
        return line;
    }
    return skip < line.size() ? line.substr(skip) : std::u16string_view();
}

}  // namespace

void FillAvatarList(LineTokenizer& tokenizer, AvatarListSink& list, std::u16string text) {
    list.Clear();
    // The lower-cased names of the entries added by this scan. The scan clears
    // the list first and is its only writer while it runs, so a name is in
    // the list exactly when its lower-cased form is in this set: one hash
    // look-up per line instead of a walk over the whole list.
    std::unordered_set<std::u16string> seen;
    std::u16string key;  // reused for every line
    int64_t count = 0;   // entries added so far

    tokenizer.Start(std::move(text));
    for (std::u16string_view line = tokenizer.NextToken({}, kLineEnd); !line.empty();
         line = tokenizer.NextToken({}, kLineEnd)) {
        line = WithoutEspPrefix(line);
        const size_t at = line.find(kSpeakerEnd);
        if (at == std::u16string_view::npos) {
            continue;
        }
        NarrowTo16(static_cast<int64_t>(at) + 1);  // positions are 16-bit
        const std::u16string_view speaker = line.substr(0, at);
        if (speaker == kSystem) {
            continue;
        }
        NarrowTo16(count);  // so is the count of the list the test walks
        platform::LowerCaseUserInto(speaker, key);
        if (seen.insert(key).second) {
            list.Append(std::u16string(speaker));
            ++count;
        }
    }
}

bool IsInList(std::u16string name, const AvatarListSink& list) {
    const std::u16string key = platform::LowerCaseUser(name);
    const int16_t n = NarrowTo16(list.Count());
    std::u16string entry;
    for (int16_t i = 0; i < n; ++i) {
        platform::LowerCaseUserInto(list.Entry(i), entry);
        if (entry == key) {
            return true;
        }
    }
    return false;
}

}  // namespace quib::text
