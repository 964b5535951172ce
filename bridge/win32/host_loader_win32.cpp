#include <windows.h>

#include <string>

#include "bridge/host_loader.h"
#include "platform/error.h"
#include "platform/exe_name.h"

namespace modQUIB {

namespace {

std::u16string SystemReason(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::u16string reason;
    if (n > 0 && text) {
        reason.assign(reinterpret_cast<const char16_t*>(text), n);
        while (!reason.empty() && (reason.back() == u'\r' || reason.back() == u'\n' ||
                                   reason.back() == u' ' || reason.back() == u'.')) {
            reason.pop_back();
        }
    }
    LocalFree(text);
    if (reason.empty()) {
        const std::string num = std::to_string(code);
        reason = u"system error " + std::u16string(num.begin(), num.end());
    }
    return reason;
}

template <typename Proc>
void Resolve(HMODULE module, const std::u16string& fileName, const char* name, Proc& slot,
             bool required) {
    slot = reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    if (!slot && required) {
        const DWORD code = GetLastError();
        const std::string ascii(name);
        throw quib::NumberedError(quib::kErrEntryPointNotFound, quib::platform::ExecutableName(),
                                  u"Can't find DLL entry point " +
                                      std::u16string(ascii.begin(), ascii.end()) + u" in " +
                                      fileName + u": " + SystemReason(code));
    }
}

}  // namespace

std::unique_ptr<HostLibrary> HostLibrary::Load(const std::u16string& fileName) {
    const HMODULE module =
        LoadLibraryExW(reinterpret_cast<LPCWSTR>(fileName.c_str()), nullptr,
                       LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!module) {
        const DWORD code = GetLastError();
        throw quib::NumberedError(
            quib::kErrFileNotFound, quib::platform::ExecutableName(),
            u"Can't load " + fileName + u" from the program's folder: " + SystemReason(code));
    }
    std::unique_ptr<HostLibrary> lib(new HostLibrary(module));
    HostTable& t = lib->table_;
    Resolve(module, fileName, "InitDDE", t.InitDDE, true);
    Resolve(module, fileName, "KillDDE", t.KillDDE, true);
    Resolve(module, fileName, "QuibRegister", t.QuibRegister, true);
    Resolve(module, fileName, "QuibUnregister", t.QuibUnregister, true);
    Resolve(module, fileName, "QuibCommunicate", t.QuibCommunicate, true);
    Resolve(module, fileName, "QuibGetAllText", t.QuibGetAllText, true);
    Resolve(module, fileName, "IsVellThere", t.IsVellThere, false);
    Resolve(module, fileName, "QuibSend", t.QuibSend, false);
    return lib;
}

HostLibrary::~HostLibrary() {
    FreeLibrary(static_cast<HMODULE>(module_));
}

}  // namespace modQUIB
