// Extracts the distinct speakers of a chat text buffer into a list.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "text/tokenizer.h"

namespace quib::text {

// The list the speakers go to: the window's list box, or a vector in tests.
class AvatarListSink {
  public:
    virtual ~AvatarListSink() = default;
    virtual void Clear() = 0;
    virtual int32_t Count() const = 0;
    virtual std::u16string Entry(int32_t index) const = 0;
    virtual void Append(const std::u16string& name) = 0;
};

// Clears the list, then appends each distinct speaker of the text's lines
// (cut with the tokenizer at CR LF) in order of first appearance, compared
// without regard to case; the scan ends at the first empty line. Error 6 at
// the 16-bit limits, with the entries added before it left in the list. The
// text always starts a new scan: an empty one leaves the list empty. The
// caller's text is read in place; the tokenizer keeps what the scan left
// unread (after a blank line or an error), as if it had cut the lines.
void FillAvatarList(LineTokenizer& tokenizer, AvatarListSink& list, std::u16string_view text);

// True when an entry of the list equals the name after both are lower-cased.
bool IsInList(std::u16string name, const AvatarListSink& list);

}  // namespace quib::text
