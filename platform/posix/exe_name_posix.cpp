#include <unistd.h>

#include <string>

#include "platform/exe_name.h"

namespace quib::platform {

std::u16string ExecutablePath() {
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
    // Folder names may be in any encoding; the path is taken byte for byte
    // (only the file title is used, and program names are ASCII in practice).
    return std::u16string(path.begin(), path.end());
}

std::u16string ExecutableName() {
    return FileTitleFromPath(ExecutablePath());
}

}  // namespace quib::platform
