#include <unistd.h>

#include <string>

#include "platform/exe_name.h"

namespace quib::platform {

std::u16string ExecutableName() {
    std::string path(256, '\0');
    for (;;) {
        const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
        if (n < 0) {
            return std::u16string();
        }
        if (static_cast<size_t>(n) < path.size()) {
            path.resize(static_cast<size_t>(n));
            break;
        }
        path.resize(path.size() * 2);
    }
    // Folder names may be in any encoding; only the file title matters and is
    // taken byte for byte (program names are ASCII in practice).
    std::u16string wide(path.begin(), path.end());
    return FileTitleFromPath(wide);
}

}  // namespace quib::platform
