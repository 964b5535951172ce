// Cuts a text into pieces at a delimiter, one piece per call.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quib::text {

class LineTokenizer {
  public:
    // A non-empty sText starts a new text (the unread rest is discarded); an
    // empty one continues with the current text. Returns the characters before
    // the first sDelimiter in the unread rest, or the whole rest when none is
    // left. An empty delimiter returns the empty string and consumes nothing.
    // A first occurrence that starts after character 32767 of the unread rest
    // is error 6, with nothing consumed.
    std::u16string GetToken(std::u16string sText, std::u16string sDelimiter);

    // GetToken for callers that walk a whole text: the same rules and errors,
    // but the piece is a view into the tokenizer's own copy of the text, valid
    // until the next call of NextToken, GetToken or Start on this tokenizer.
    // The unread rest is kept as an offset, so a whole text costs one pass.
    std::u16string_view NextToken(std::u16string sText, std::u16string_view sDelimiter);

    // Makes sText the current text whatever its length; an empty sText
    // discards the unread rest.
    void Start(std::u16string sText);

    // The unread rest of the current text.
    std::u16string_view Remainder() const;

  private:
    std::u16string sRemainder_;
    size_t offset_ = 0;  // characters of sRemainder_ already returned
};

}  // namespace quib::text
