// The tracing vellquib.dll: put in place of a host library beside a
// plug-in, it loads the real host library and forwards every export and
// callback to it unchanged, while it writes the call log
// (VELLQUIB_TRACE_LOG, the stand-in's format) and a recording that the
// stand-in can replay (VELLQUIB_TRACE_RECORD, recorder.h).
//
// The host is vellquib.host.dll beside this file, or the full path in
// VELLQUIB_TRACE_HOST; it is loaded by the first InitDDE and stays loaded
// until the process ends, as its link may call back at any time until
// KillDDE. While a link is open the tracer keeps itself loaded too (as the
// stand-in does), so that a plug-in that unloads it without KillDDE cannot
// leave the host calling back into code that is gone; KillDDE lets it go.
// Nothing is done in DllMain. When it cannot be loaded or lacks one of
// the six exports every plug-in needs, InitDDE returns kNoHost and says why
// in the log and on standard error; the other exports then return -1
// (IsVellThere 0) and do nothing.
//
// Callbacks: every InitDDE hands the host wrappers of its own (one of
// kSlots sets), so that each link's callbacks reach the functions given
// with it; each wrapper logs, records and then calls the plug-in's function
// on the same thread with the same pointer and length.
#include <windows.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "call_log.h"
#include "owned_win32.h"
#include "process_log.h"
#include "recorder.h"
#include "script.h"
#include "vellquib.h"

namespace {

using quib::standin::CallInvocation;
using quib::standin::EnvironmentValue;
using quib::standin::Export;
using quib::standin::Invocation;
using quib::standin::OwnedLocal;
using quib::standin::OwnedModule;
using quib::standin::Quoted;
using quib::standin::TimeOfDay;
using quib::standin::ToStandardError;
using quib::tracer::Recorder;

// InitDDE's result when the host library cannot be loaded or lacks an export.
constexpr int16_t kNoHost = 5;

constexpr wchar_t kHostFile[] = L"vellquib.host.dll";

// The host's exports; those that are not needed may be null, as for plug-ins.
struct Host {
#define QUIB_HOST_ENTRY(type, name, parameters, needed) name##Proc name = nullptr;
    VELLQUIB_EXPORTS(QUIB_HOST_ENTRY)
#undef QUIB_HOST_ENTRY
};

// Set once by the first InitDDE that finds the host, read without a lock.
Host gHostStorage;
std::atomic<Host*> gHost = nullptr;
std::mutex gLoadMutex;

// The link as the tracer sees it: open after an InitDDE returned 0, until
// KillDDE on its thread. Only the link's thread changes it; any thread reads
// it, to tell its calls from the link's.
std::atomic<DWORD> gLinkThread = 0;
std::atomic<bool> gLinkOpen = false;

// The reference to the tracer that the open link holds, given back by
// KillDDE. Never destroyed: a link still open when the process ends keeps it,
// as nothing is freed from inside the library's detach.
OwnedModule& KeptLoaded() {
    static auto* const kept = new OwnedModule;
    return *kept;
}

quib::standin::CallLog gLog;
Recorder gRecorder;
std::once_flag gOutputsOpened;

// Milliseconds from a fixed origin, for the recording's delays.
double NowMs() {
    static const double perMs = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart) / 1000.0;
    }();
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) / perMs;
}

std::string Utf8(const std::wstring& w) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), out.data(), n, nullptr,
                        nullptr);
    return out;
}

// Opens the log and the recording named by the environment, once. True
// when either is open: without them the tracer only forwards.
bool Tracing() {
    static std::atomic<int> state = 0;  // 0 not yet looked at, 1 off, 2 on
    if (const int known = state.load(std::memory_order_acquire); known != 0) {
        return known == 2;
    }
    std::call_once(gOutputsOpened, [] {
        if (const auto path = EnvironmentValue("VELLQUIB_TRACE_LOG"); path && !path->empty()) {
            if (!gLog.Open(*path)) {
                ToStandardError("cannot open the call log " + *path);
            }
        }
        if (const auto path = EnvironmentValue("VELLQUIB_TRACE_RECORD"); path && !path->empty()) {
            const std::string header =
                "# A session recorded by the tracing vellquib.dll. Replay it with the\n"
                "# stand-in: VELLQUIB_SCRIPT=<this file>.\n";
            if (!gRecorder.Open(*path, header)) {
                ToStandardError("cannot create the recording " + *path);
            }
        }
        state.store(gLog.IsOpen() || gRecorder.IsOpen() ? 2 : 1, std::memory_order_release);
    });
    return state.load(std::memory_order_acquire) == 2;
}

void Note(const std::string& text) {
    Tracing();
    gLog.Note(TimeOfDay(), text);
}

bool OnLinkThread() {
    return gLinkThread == GetCurrentThreadId();
}

// A call from a thread other than the link's while a link is open: the
// recording keeps it as a comment, as the stand-in answers it by itself.
bool Foreign() {
    return gLinkOpen && !OnLinkThread();
}

void LogCall(const std::string& invocation) {
    if (gLog.IsOpen()) {
        gLog.Call(TimeOfDay(), Foreign() ? invocation + " [not the link's thread]" : invocation);
    }
}

// Runs the tracer's own work around a call or callback (formatting, the log,
// the recording). A failure inside it (out of memory) loses that line of the
// log or the recording, never the call itself.
template <typename Work>
void Quietly(Work work) noexcept {
    try {
        work();
    } catch (...) {
    }
}

// A call's log text, made by make and logged; empty when that fails.
template <typename Make>
std::string Logged(Make make) noexcept {
    std::string invocation;
    if (!Tracing()) {
        return invocation;
    }
    Quietly([&] {
        invocation = make();
        LogCall(invocation);
    });
    return invocation;
}

// --- Loading the host ------------------------------------------------------

// The tracer's own module; without GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT
// in flags, a reference that keeps it loaded until FreeLibrary.
HMODULE ThisLibrary(DWORD flags) {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | flags,
                       reinterpret_cast<LPCWSTR>(&ThisLibrary), &self);
    return self;
}

std::wstring DefaultHostPath() {
    const HMODULE self = ThisLibrary(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT);
    if (!self) {
        return L"";
    }
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(self, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) {
            return L"";
        }
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    return path.substr(0, path.find_last_of(L"\\/") + 1) + kHostFile;
}

std::wstring HostPath() {
    const DWORD n = GetEnvironmentVariableW(L"VELLQUIB_TRACE_HOST", nullptr, 0);
    if (n > 1) {
        std::wstring path(n, L'\0');
        const DWORD m = GetEnvironmentVariableW(L"VELLQUIB_TRACE_HOST", path.data(), n);
        if (m > 0 && m < n) {
            path.resize(m);
            return path;
        }
    }
    return DefaultHostPath();
}

std::string SystemReason(DWORD code) {
    char* allocated = nullptr;
    const DWORD n = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<LPSTR>(&allocated), 0, nullptr);
    const OwnedLocal<char> text(allocated);
    std::string reason = n && text ? std::string(text.get(), n) : "";
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' ||
                               reason.back() == ' ' || reason.back() == '.')) {
        reason.pop_back();
    }
    return "system error " + std::to_string(code) + (reason.empty() ? "" : " (" + reason + ")");
}

template <typename Proc>
bool Resolve(HMODULE module, const char* name, Proc& slot) {
    slot = reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return slot != nullptr;
}

// The host, loaded now if it is not yet; nullptr with *why set when it
// cannot be used.
Host* LoadHost(std::string* why) {
    if (Host* h = gHost) {
        return h;
    }
    const std::lock_guard<std::mutex> lock(gLoadMutex);
    if (Host* h = gHost) {
        return h;
    }
    const std::wstring path = HostPath();
    // A full path only: a relative one would be looked for in the current
    // folder and on PATH.
    const bool full =
        path.size() > 2 && ((path[1] == L':' && (path[2] == L'\\' || path[2] == L'/')) ||
                            (path[0] == L'\\' && path[1] == L'\\'));
    if (!full) {
        *why = "the host library's path \"" + Utf8(path) + "\" is not a full path";
        return nullptr;
    }
    // Its own dependencies are looked for beside it.
    OwnedModule module(LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    if (!module) {
        *why = "cannot load the host library " + Utf8(path) + ": " + SystemReason(GetLastError());
        return nullptr;
    }
    Host h;
    const char* missing = nullptr;
#define QUIB_RESOLVE_EXPORT(type, name, parameters, needed)              \
    if (!Resolve(module.get(), #name, h.name) && (needed) && !missing) { \
        missing = #name;                                                 \
    }
    VELLQUIB_EXPORTS(QUIB_RESOLVE_EXPORT)
#undef QUIB_RESOLVE_EXPORT
    if (missing) {
        *why = "the host library " + Utf8(path) + " has no export " + missing;
        return nullptr;
    }
    // The host stays loaded until the process ends: its link may call back
    // at any time until KillDDE.
    module.release();
    gHostStorage = h;
    gHost = &gHostStorage;
    Note("tracing the host library " + Utf8(path));
    return &gHostStorage;
}

// --- Callbacks -------------------------------------------------------------

std::string_view Counted(const char* text, int32_t length) {
    return text && length > 0 ? std::string_view(text, static_cast<size_t>(length))
                              : std::string_view();
}

// A callback on a thread other than the link's cannot be replayed.
bool RecordsCallback(const std::string& line) {
    if (Foreign()) {
        gRecorder.Comment("on another thread, not replayed: " + line);
        return false;
    }
    return true;
}

struct Callbacks {
    QuibStatusCallback onStatus = nullptr;
    QuibMessageCallback onMessage = nullptr;
    QuibTextCallback onText = nullptr;
};

constexpr size_t kSlots = 16;
std::array<Callbacks, kSlots> gSlots;
size_t gNextSlot = 0;

void ForwardStatus(const Callbacks& c, const char* status, int32_t length) {
    Quietly([&] {
        if (!Tracing()) {
            return;
        }
        const std::string_view s = Counted(status, length);
        const std::string line = Invocation("StatusCallback", {Quoted(s)});
        if (gLog.IsOpen()) {
            gLog.Callback(TimeOfDay(), line);
        }
        if (RecordsCallback(line)) {
            gRecorder.Status(s, NowMs());
        }
    });
    c.onStatus(status, length);
}

void ForwardMessage(const Callbacks& c, const char* speaker, int32_t speakerLength, int16_t kind,
                    const char* said, int32_t saidLength) {
    Quietly([&] {
        if (!Tracing()) {
            return;
        }
        const std::string_view who = Counted(speaker, speakerLength);
        const std::string_view what = Counted(said, saidLength);
        const std::string line =
            Invocation("MessageCallback", {Quoted(who), std::to_string(kind), Quoted(what)});
        if (gLog.IsOpen()) {
            gLog.Callback(TimeOfDay(), line);
        }
        if (RecordsCallback(line)) {
            gRecorder.Message(who, kind, what, NowMs());
        }
    });
    c.onMessage(speaker, speakerLength, kind, said, saidLength);
}

void ForwardText(const Callbacks& c, const char* buffer, int32_t length) {
    Quietly([&] {
        if (!Tracing()) {
            return;
        }
        const std::string_view b = Counted(buffer, length);
        const std::string line = Invocation("TextCallback", {Quoted(b), std::to_string(length)});
        if (gLog.IsOpen()) {
            gLog.Callback(TimeOfDay(), line);
        }
        if (RecordsCallback(line)) {
            gRecorder.Text(b, NowMs());
        }
    });
    c.onText(buffer, length);
}

template <size_t N>
void VELLQUIB_CALL StatusWrapper(const char* status, int32_t length) {
    ForwardStatus(gSlots[N], status, length);
}

template <size_t N>
void VELLQUIB_CALL MessageWrapper(const char* speaker, int32_t speakerLength, int16_t kind,
                                  const char* said, int32_t saidLength) {
    ForwardMessage(gSlots[N], speaker, speakerLength, kind, said, saidLength);
}

template <size_t N>
void VELLQUIB_CALL TextWrapper(const char* buffer, int32_t length) {
    ForwardText(gSlots[N], buffer, length);
}

struct Wrappers {
    QuibStatusCallback onStatus;
    QuibMessageCallback onMessage;
    QuibTextCallback onText;
};

template <size_t... N>
constexpr std::array<Wrappers, kSlots> MakeWrappers(std::index_sequence<N...>) {
    return {Wrappers{&StatusWrapper<N>, &MessageWrapper<N>, &TextWrapper<N>}...};
}
constexpr std::array<Wrappers, kSlots> kWrappers = MakeWrappers(std::make_index_sequence<kSlots>());

// --- Calls -----------------------------------------------------------------

bool Usable(const char* plugin) {
    return plugin && plugin[0] != '\0';
}

// How the recording takes a call on the calling thread: answered from the
// script only when the stand-in would take a script line for it (a link
// open on this thread and a usable name).
Recorder::Call HowRecorded(const char* plugin) {
    return gLinkOpen && OnLinkThread() && Usable(plugin) ? Recorder::Call::Answered
                                                         : Recorder::Call::Comment;
}

// Forwards one call: recorded around it, unless it comes from another
// thread while a link is open, which the recording notes after it.
template <typename Forward>
int32_t Traced(Export e, Recorder::Call how, const std::string& invocation, Forward forward,
               Recorder::Buffer avatar = {}, Recorder::Buffer message = {}) {
    if (!Tracing()) {
        return forward();
    }
    if (Foreign()) {
        const int32_t result = forward();
        Quietly([&] {
            gRecorder.Comment(invocation + " [not the link's thread] returned " +
                              std::to_string(result) + "; not replayed");
        });
        return result;
    }
    Quietly([&] { gRecorder.Begin(e, how, invocation, avatar, message); });
    const int32_t result = forward();
    Quietly([&] { gRecorder.End(result, NowMs()); });
    return result;
}

// Host is nullptr before the host is loaded: the call does nothing.
Host* Loaded() {
    return gHost;
}

// QuibRegister and QuibUnregister, which differ only in the export.
int32_t Registration(Export e, QuibRegisterProc Host::*proc, const char* plugin) {
    const std::string invocation = Logged([&] { return CallInvocation(e, {.plugin = plugin}); });
    Host* h = Loaded();
    if (!h) {
        return -1;
    }
    return Traced(e, HowRecorded(plugin), invocation, [&] { return (h->*proc)(plugin); });
}

}  // namespace

extern "C" {

int16_t VELLQUIB_CALL InitDDE(const char* plugin, QuibStatusCallback onStatus,
                              QuibMessageCallback onMessage, QuibTextCallback onText) {
    const std::string invocation = Logged([&] {
        return CallInvocation(Export::InitDDE,
                              {.plugin = plugin,
                               .onStatus = reinterpret_cast<const void*>(onStatus),
                               .onMessage = reinterpret_cast<const void*>(onMessage),
                               .onText = reinterpret_cast<const void*>(onText)});
    });
    std::string why;
    Host* h = nullptr;
    try {
        h = LoadHost(&why);
    } catch (...) {
        why = "out of memory while loading the host library";
    }
    if (!h) {
        Quietly([&] {
            const std::string note = why + "; InitDDE returns " + std::to_string(kNoHost);
            Note(note);
            ToStandardError(note);
            gRecorder.Comment(invocation + ": " + note);
        });
        return kNoHost;
    }
    // The next free set of wrappers; it is taken only when a link opens, so
    // the sets of open links are never handed out again by a failing
    // InitDDE (a second one, say).
    const size_t slot = gNextSlot;
    gSlots[slot] = Callbacks{onStatus, onMessage, onText};
    const Wrappers& w = kWrappers[slot];
    // The stand-in answers a second InitDDE (2) and one without a name by
    // itself, without a script line.
    const bool opening = !gLinkOpen;
    const Recorder::Call how =
        opening && Usable(plugin) ? Recorder::Call::Answered : Recorder::Call::Comment;
    if (opening) {
        gLinkThread = GetCurrentThreadId();  // callbacks inside come on it
    }
    const int32_t result = Traced(Export::InitDDE, how, invocation, [&]() -> int32_t {
        return h->InitDDE(plugin, onStatus ? w.onStatus : nullptr,
                          onMessage ? w.onMessage : nullptr, onText ? w.onText : nullptr);
    });
    if (result == 0) {
        gNextSlot = (slot + 1) % kSlots;
    }
    if (opening) {
        gLinkOpen = result == 0;
        if (gLinkOpen) {
            KeptLoaded().reset(ThisLibrary(0));
        } else {
            gLinkThread = 0;
        }
    }
    return static_cast<int16_t>(result);
}

int32_t VELLQUIB_CALL KillDDE(void) {
    const std::string invocation = Logged([] { return CallInvocation(Export::KillDDE, {}); });
    Host* h = Loaded();
    if (!h) {
        return -1;
    }
    const bool closing = gLinkOpen && OnLinkThread();
    const int32_t result =
        Traced(Export::KillDDE, closing ? Recorder::Call::Closing : Recorder::Call::Comment,
               invocation, [&] { return h->KillDDE(); });
    if (closing) {
        gLinkOpen = false;
        gLinkThread = 0;
        // The plug-in that calls KillDDE holds a reference of its own, so
        // this one is never the last while the tracer's code runs.
        KeptLoaded().reset();
    }
    return result;
}

int32_t VELLQUIB_CALL QuibRegister(const char* plugin) {
    return Registration(Export::QuibRegister, &Host::QuibRegister, plugin);
}

int32_t VELLQUIB_CALL QuibUnregister(const char* plugin) {
    return Registration(Export::QuibUnregister, &Host::QuibUnregister, plugin);
}

int32_t VELLQUIB_CALL QuibCommunicate(const char* plugin, int16_t mode, char* avatar,
                                      char* message) {
    const std::string invocation = Logged([&] {
        return CallInvocation(
            Export::QuibCommunicate,
            {.plugin = plugin, .mode = mode, .avatar = avatar, .message = message});
    });
    Host* h = Loaded();
    if (!h) {
        return -1;
    }
    // The bytes the host may overwrite: each string and its NUL.
    const Recorder::Buffer a{avatar, avatar ? std::strlen(avatar) + 1 : 0};
    const Recorder::Buffer m{message, message ? std::strlen(message) + 1 : 0};
    const Recorder::Call how = avatar && message ? HowRecorded(plugin) : Recorder::Call::Comment;
    return Traced(
        Export::QuibCommunicate, how, invocation,
        [&] { return h->QuibCommunicate(plugin, mode, avatar, message); }, a, m);
}

int32_t VELLQUIB_CALL QuibGetAllText(const char* plugin) {
    const std::string invocation =
        Logged([&] { return CallInvocation(Export::QuibGetAllText, {.plugin = plugin}); });
    Host* h = Loaded();
    if (!h) {
        return -1;
    }
    return Traced(Export::QuibGetAllText, HowRecorded(plugin), invocation,
                  [&] { return h->QuibGetAllText(plugin); });
}

int32_t VELLQUIB_CALL IsVellThere(void) {
    const std::string invocation = Logged([] { return CallInvocation(Export::IsVellThere, {}); });
    Host* h = Loaded();
    if (!h || !h->IsVellThere) {
        return 0;
    }
    return Traced(Export::IsVellThere, Recorder::Call::Comment, invocation,
                  [&] { return h->IsVellThere(); });
}

int32_t VELLQUIB_CALL QuibSend(const char* plugin, const char* command) {
    const std::string invocation = Logged(
        [&] { return CallInvocation(Export::QuibSend, {.plugin = plugin, .command = command}); });
    Host* h = Loaded();
    if (!h || !h->QuibSend) {
        return -1;
    }
    return Traced(Export::QuibSend, command ? HowRecorded(plugin) : Recorder::Call::Comment,
                  invocation, [&] { return h->QuibSend(plugin, command); });
}

}  // extern "C"
