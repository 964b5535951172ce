#include "text/tokenizer.h"

namespace quib::text {

std::u16string LineTokenizer::GetToken(std::u16string, std::u16string) {
    return {};
}

std::u16string_view LineTokenizer::Remainder() const {
    return std::u16string_view(sRemainder_).substr(offset_);
}

}  // namespace quib::text
