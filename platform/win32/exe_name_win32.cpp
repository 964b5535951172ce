#include <windows.h>

#include <string>

#include "platform/exe_name.h"

namespace quib::platform {

std::u16string ExecutablePath() {
    // GetModuleFileNameW truncates silently; grow the buffer until the whole
    // path fits, so that paths beyond MAX_PATH work.
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) {
            return std::u16string();
        }
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    return std::u16string(reinterpret_cast<const char16_t*>(path.data()), path.size());
}

std::u16string ExecutableName() {
    return FileTitleFromPath(ExecutablePath());
}

}  // namespace quib::platform
