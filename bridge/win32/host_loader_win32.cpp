#include <windows.h>

#include <string>
#include <utility>

#include "bridge/host_loader.h"
#include "platform/ascii.h"
#include "platform/error.h"
#include "platform/exe_name.h"
#include "platform/win32/handles.h"

namespace quib::modQUIB {

struct HostLibrary::Module {
    quib::platform::UniqueModule handle;
};

namespace {

std::u16string SystemReason(DWORD code) {
    quib::platform::UniqueLocalMemory<wchar_t> text;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<LPWSTR>(text.Put()), 0, nullptr);
    std::u16string reason;
    if (n > 0 && text) {
        reason.assign(reinterpret_cast<const char16_t*>(text.Get()), n);
        while (!reason.empty() && (reason.back() == u'\r' || reason.back() == u'\n' ||
                                   reason.back() == u' ' || reason.back() == u'.')) {
            reason.pop_back();
        }
    }
    if (reason.empty()) {
        reason = u"system error " + quib::Decimal(code);
    }
    return reason;
}

template <typename Proc>
void Resolve(HMODULE module, const std::u16string& fileName, const char* name, Proc& slot,
             bool required) {
    slot = reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    if (!slot && required) {
        const DWORD code = GetLastError();
        throw quib::NumberedError(quib::kErrEntryPointNotFound, quib::platform::ExecutableName(),
                                  u"Can't find DLL entry point " + quib::FromAscii(name) + u" in " +
                                      fileName + u": " + SystemReason(code));
    }
}

}  // namespace

HostLibrary::HostLibrary(std::unique_ptr<Module> module) : module_(std::move(module)) {}

std::unique_ptr<HostLibrary> HostLibrary::Load(const std::u16string& fileName) {
    quib::platform::UniqueModule module(
        LoadLibraryExW(reinterpret_cast<LPCWSTR>(fileName.c_str()), nullptr,
                       LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32));
    if (!module) {
        const DWORD code = GetLastError();
        throw quib::NumberedError(
            quib::kErrFileNotFound, quib::platform::ExecutableName(),
            u"Can't load " + fileName + u" from the program's folder: " + SystemReason(code));
    }
    const HMODULE loaded = module.Get();
    std::unique_ptr<HostLibrary> lib(
        new HostLibrary(std::make_unique<Module>(Module{std::move(module)})));
    HostTable& t = lib->table_;
    Resolve(loaded, fileName, "InitDDE", t.InitDDE, true);
    Resolve(loaded, fileName, "KillDDE", t.KillDDE, true);
    Resolve(loaded, fileName, "QuibRegister", t.QuibRegister, true);
    Resolve(loaded, fileName, "QuibUnregister", t.QuibUnregister, true);
    Resolve(loaded, fileName, "QuibCommunicate", t.QuibCommunicate, true);
    Resolve(loaded, fileName, "QuibGetAllText", t.QuibGetAllText, true);
    Resolve(loaded, fileName, "IsVellThere", t.IsVellThere, false);
    Resolve(loaded, fileName, "QuibSend", t.QuibSend, false);
    return lib;
}

HostLibrary::~HostLibrary() = default;

}  // namespace quib::modQUIB
