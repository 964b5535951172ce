#include "text/tokenizer.h"

#include <utility>

#include "platform/error.h"
#include "platform/find.h"

namespace quib::text {

std::u16string LineTokenizer::GetToken(std::u16string sText, std::u16string sDelimiter) {
    return std::u16string(NextToken(std::move(sText), sDelimiter));
}

void LineTokenizer::Start(std::u16string sText) {
    sRemainder_ = std::move(sText);
    offset_ = 0;
}

std::u16string_view LineTokenizer::NextToken(std::u16string sText, std::u16string_view sDelimiter) {
    if (!sText.empty()) {
        Start(std::move(sText));
    } else if (offset_ != 0 && offset_ == sRemainder_.size()) {
        // Everything was returned and no view into it may be used any more:
        // give the memory of a large text back.
        Start(std::u16string());
    }
    const std::u16string_view rest = Remainder();
    if (sDelimiter.empty()) {
        return {};  // found at position 1: an empty piece, nothing consumed
    }
    const size_t at = platform::Find(rest, sDelimiter);
    if (at == std::u16string_view::npos) {
        offset_ = sRemainder_.size();
        return rest;
    }
    // The position is kept in 16 bits: past character 32767 nothing is consumed.
    NarrowTo16(static_cast<int64_t>(at) + 1);
    offset_ += at + sDelimiter.size();
    return rest.substr(0, at);
}

std::u16string_view LineTokenizer::Remainder() const {
    return std::u16string_view(sRemainder_).substr(offset_);
}

}  // namespace quib::text
