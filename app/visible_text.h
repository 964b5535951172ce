// What an edit control shows of a text.
//
// An edit control's text ends at its first NUL character, so a text buffer
// that holds NULs would lose everything after the first one from view. The
// shown copy replaces each NUL with a visible symbol; the text itself (the
// bridge state, the avatar scan) keeps its NULs.
#pragma once

#include <string>
#include <string_view>

namespace quib::app {

// SYMBOL FOR NULL, shown in place of each NUL character.
inline constexpr char16_t kVisibleNul = u'\u2400';

// True when the text holds a NUL character.
bool HasNul(std::u16string_view text);

// A copy of the text with every NUL replaced by kVisibleNul; same length.
std::u16string VisibleText(std::u16string_view text);

}  // namespace quib::app
