// Lower-casing by the user's locale, for comparisons without regard to case.
#pragma once

#include <string>
#include <string_view>

namespace quib::platform {

// Same length as the input (one code unit in, one out); characters outside
// the locale's mapping are returned unchanged.
std::u16string LowerCaseUser(std::u16string_view text);

// The same mapping written into out (its old content replaced, its storage
// reused), for callers that lower-case many strings in a row. text must not
// view into out.
void LowerCaseUserInto(std::u16string_view text, std::u16string& out);

}  // namespace quib::platform
