#include "platform/exe_name.h"

namespace quib::platform {

std::u16string FileTitleFromPath(std::u16string_view path) {
    const auto slash = path.find_last_of(u"\\/");
    std::u16string_view name = slash == std::u16string_view::npos ? path : path.substr(slash + 1);
    const auto dot = name.find_last_of(u'.');
    if (dot != std::u16string_view::npos) {
        name = name.substr(0, dot);
    }
    return std::u16string(name);
}

}  // namespace quib::platform
