#include "answerer.h"

#include <cstdlib>
#include <string>

namespace quib::standin {

int32_t StatusNumber(std::string_view status) {
    return static_cast<int32_t>(std::strtol(std::string(status).c_str(), nullptr, 10));
}

int32_t Answerer::Report(std::string_view status) {
    const int32_t number = StatusNumber(status);
    if (BeforeStatus()) {
        link_.Status(status);
    }
    return number;
}

}  // namespace quib::standin
