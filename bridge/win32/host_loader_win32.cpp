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

// The full path of the running program's folder, with its final separator;
// empty when the system cannot tell it.
std::wstring ProgramFolder() {
    const std::u16string program = quib::platform::ExecutablePath();
    std::wstring path(program.begin(), program.end());
    if (!path.empty()) {
        path.erase(path.find_last_of(L"\\/") + 1);
    }
    return path;
}

std::wstring SystemFolder() {
    std::wstring path(MAX_PATH, L'\0');
    const UINT n = GetSystemDirectoryW(path.data(), static_cast<UINT>(path.size()));
    if (n == 0 || n >= path.size()) {
        return std::wstring();
    }
    path.resize(n);
    return path + L"\\";
}

void* SystemLoadLibrary(const wchar_t* path, unsigned long flags) {
    return LoadLibraryExW(path, nullptr, flags);
}

// The library from the program's folder, else from the system's; nullptr with
// the system's reason in GetLastError().
HMODULE LoadBesideProgram(const std::u16string& fileName, LoadLibraryCall load) {
    const auto call = [load](const std::wstring& path, DWORD flags) {
        return static_cast<HMODULE>(load(path.c_str(), flags));
    };
    const std::wstring name(fileName.begin(), fileName.end());
    const HMODULE module =
        call(name, LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module || GetLastError() != ERROR_INVALID_PARAMETER) {
        return module;
    }
    // A loader without the search flags. A full path is loaded from exactly
    // there, and with the altered search path the library's own imports are
    // looked for in its folder first, not in the current one.
    const std::wstring folder = ProgramFolder();
    if (folder.empty()) {
        return nullptr;
    }
    const HMODULE beside = call(folder + name, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (beside || GetLastError() != ERROR_MOD_NOT_FOUND) {
        return beside;  // a library that is there but fails keeps its own reason
    }
    const std::wstring system = SystemFolder();
    if (system.empty()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return call(system + name, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace

void RestrictDllSearch() {
    using SetDefaultDllDirectoriesProc = BOOL(WINAPI*)(DWORD);
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const auto setDefault =
        kernel ? reinterpret_cast<SetDefaultDllDirectoriesProc>(
                     reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")))
               : nullptr;
    if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS)) {
        return;
    }
    // A loader without it: the current folder at least is left out of the
    // search. PATH stays in it there, as the system gives no way around it.
    SetDllDirectoryW(L"");
}

HostLibrary::HostLibrary(std::unique_ptr<Module> module) : module_(std::move(module)) {}

std::unique_ptr<HostLibrary> HostLibrary::Load(const std::u16string& fileName,
                                               LoadLibraryCall load) {
    quib::platform::UniqueModule module(
        LoadBesideProgram(fileName, load ? load : &SystemLoadLibrary));
    if (!module) {
        const DWORD code = GetLastError();
        std::u16string reason = SystemReason(code);
        if (code == ERROR_BAD_EXE_FORMAT && sizeof(void*) == 8) {
            reason += u" (this is the 64-bit build of the program: it loads only a 64-bit " +
                      fileName + u", such as the stand-in it comes with)";
        }
        throw quib::NumberedError(
            quib::kErrFileNotFound, quib::platform::ExecutableName(),
            u"Can't load " + fileName + u" from the program's folder: " + reason);
    }
    const HMODULE loaded = module.Get();
    std::unique_ptr<HostLibrary> lib(
        new HostLibrary(std::make_unique<Module>(Module{std::move(module)})));
    HostTable& t = lib->table_;
#define QUIB_RESOLVE_EXPORT(type, name, parameters, needed) \
    Resolve(loaded, fileName, #name, t.name, (needed) != 0);
    VELLQUIB_EXPORTS(QUIB_RESOLVE_EXPORT)
#undef QUIB_RESOLVE_EXPORT
    return lib;
}

HostLibrary::~HostLibrary() = default;

}  // namespace quib::modQUIB
