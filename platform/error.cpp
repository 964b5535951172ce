#include "platform/error.h"

#include <limits>
#include <utility>

#include "platform/exe_name.h"

namespace quib {

namespace {

std::string AsciiForLog(const std::u16string& text) {
    std::string out;
    out.reserve(text.size());
    for (char16_t c : text) {
        out.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
    }
    return out;
}

}  // namespace

NumberedError::NumberedError(int32_t number, std::u16string source, std::u16string description)
    : number_(number), source_(std::move(source)), description_(std::move(description)) {
    what_ = "Error " + std::to_string(number_) + " (" + AsciiForLog(source_) +
            "): " + AsciiForLog(description_);
}

void RaiseOverflow() {
    throw NumberedError(kErrOverflow, platform::ExecutableName(), u"Overflow");
}

NumberedError OutOfMemoryError() {
    return NumberedError(kErrOutOfMemory, platform::ExecutableName(), u"Out of memory");
}

int16_t NarrowTo16(int64_t value) {
    if (value < std::numeric_limits<int16_t>::min() ||
        value > std::numeric_limits<int16_t>::max()) {
        RaiseOverflow();
    }
    return static_cast<int16_t>(value);
}

}  // namespace quib
