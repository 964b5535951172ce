// The stand-in host library vellquib.dll: the C interface of
// bridge/vellquib.h around the simulated world of sim_world.h.
//
// One link per process. InitDDE opens it on the calling thread, creates a
// hidden message-only window there and starts the chatter timer on it; every
// callback is made on that thread, either inside a call of the plug-in or
// while the plug-in dispatches the window's messages (text deliveries, ESP
// answers, chatter). Calls from any other thread, before InitDDE or after
// KillDDE return -1 and make no callback.
//
// With VELLQUIB_SCRIPT set, the link answers from that script instead of the
// world (script.h); with VELLQUIB_LOG set, every call and callback is
// appended to that file (call_log.h).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "bridge/vellquib.h"
#include "vellquib/call_log.h"
#include "vellquib/script.h"
#include "vellquib/sim_world.h"

namespace {

using vellsim::ChatLine;
using vellsim::Export;
using vellsim::Quoted;
using vellsim::World;

constexpr wchar_t kWindowClass[] = L"VellQuibStandIn.Link";
constexpr UINT kDeliverMessage = WM_APP + 1;  // wParam: id of a scheduled delivery
constexpr UINT_PTR kChatterTimer = 1;
constexpr UINT_PTR kFirstScheduledId = 1000;

// InitDDE's result when VELLQUIB_SCRIPT names a script that cannot be read
// or is malformed.
constexpr int16_t kScriptUnusable = 4;

struct TextDelivery {
    std::string framed;
};
// A message callback that a script asked for.
struct ScriptedMessage {
    std::string speaker;
    int16_t number;
    std::string said;
};
using Scheduled = std::variant<TextDelivery, ChatLine, ScriptedMessage>;

struct Session {
    DWORD thread = 0;
    HWND window = nullptr;
    QuibStatusCallback onStatus = nullptr;
    QuibMessageCallback onMessage = nullptr;
    QuibTextCallback onText = nullptr;
    std::unique_ptr<World> world;       // the simulated world, or
    vellsim::Script* script = nullptr;  // the script that answers instead
    // Deliveries and ESP answers waiting for their timer or posted message.
    std::map<UINT_PTR, Scheduled> scheduled;
    UINT_PTR nextId = kFirstScheduledId;
};

// The one link of the process. A callback may close it (KillDDE) or call the
// library again, so after every callback the code checks that the link it
// worked on is still open (same epoch) before it goes on.
std::unique_ptr<Session> gSession;
unsigned gEpoch = 0;

// The script, read by the first InitDDE that finds it usable; its answers
// go on from link to link while the library stays loaded.
std::optional<vellsim::Script> gScript;

vellsim::CallLog gLog;
std::once_flag gLogOpened;

HINSTANCE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

// The link, when it is open and the caller is on its thread.
Session* Link() {
    if (!gSession || gSession->thread != GetCurrentThreadId()) {
        return nullptr;
    }
    return gSession.get();
}

bool StillOpen(unsigned epoch) {
    return gSession && gEpoch == epoch;
}

std::optional<std::string> EnvironmentValue(const char* name) {
    char small[256];
    const DWORD n = GetEnvironmentVariableA(name, small, sizeof small);
    if (n == 0) {
        return std::nullopt;
    }
    if (n < sizeof small) {
        return std::string(small, n);
    }
    std::string big(n, '\0');
    const DWORD m = GetEnvironmentVariableA(name, big.data(), n);
    if (m == 0 || m >= n) {
        return std::nullopt;
    }
    big.resize(m);
    return big;
}

// The time of a log line: the local time of day to the millisecond.
std::string TimeOfDay() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    char text[16];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u.%03u", t.wHour, t.wMinute, t.wSecond,
                  t.wMilliseconds);
    return text;
}

// Writes to the process's standard error, where it has one.
void ToStandardError(const std::string& text) {
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (err && err != INVALID_HANDLE_VALUE) {
        const std::string line = "vellquib: " + text + "\r\n";
        DWORD written = 0;
        WriteFile(err, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    }
}

vellsim::CallLog& Log() {
    std::call_once(gLogOpened, [] {
        if (const auto path = EnvironmentValue("VELLQUIB_LOG"); path && !path->empty()) {
            if (!gLog.Open(*path)) {
                ToStandardError("cannot open the call log " + *path);
            }
        }
    });
    return gLog;
}

// A call into the library, logged as it was received.
void LogCall(const std::string& invocation) {
    vellsim::CallLog& log = Log();
    if (log.IsOpen()) {
        const bool foreign = gSession && gSession->thread != GetCurrentThreadId();
        log.Call(TimeOfDay(), foreign ? invocation + " [not the link's thread]" : invocation);
    }
}

void LogNote(const std::string& note) {
    Log().Note(TimeOfDay(), note);
}

// The callbacks, each logged before it is made, so that the line is there
// even when the plug-in crashes inside.
void CallStatus(Session& s, std::string_view status) {
    if (s.onStatus) {
        Log().Callback(TimeOfDay(), vellsim::Invocation("StatusCallback", {Quoted(status)}));
        s.onStatus(status.data(), static_cast<int32_t>(status.size()));
    }
}

void CallMessage(Session& s, const std::string& speaker, int16_t number, const std::string& said) {
    if (s.onMessage) {
        Log().Callback(TimeOfDay(), vellsim::Invocation(
                                        "MessageCallback",
                                        {Quoted(speaker), std::to_string(number), Quoted(said)}));
        s.onMessage(speaker.data(), static_cast<int32_t>(speaker.size()), number, said.data(),
                    static_cast<int32_t>(said.size()));
    }
}

void CallText(Session& s, const std::string& buffer) {
    if (s.onText) {
        Log().Callback(
            TimeOfDay(),
            vellsim::Invocation("TextCallback", {Quoted(buffer), std::to_string(buffer.size())}));
        s.onText(buffer.data(), static_cast<int32_t>(buffer.size()));
    }
}

int32_t StatusNumber(std::string_view status) {
    return static_cast<int32_t>(std::strtol(std::string(status).c_str(), nullptr, 10));
}

// Tells the plug-in of every line the world gained, through MessageCallback:
// speaker, kind, text. Stops when a callback closes the link.
void FlushNotices(unsigned epoch) {
    while (StillOpen(epoch)) {
        Session& s = *gSession;
        if (!s.world) {
            return;
        }
        std::vector<ChatLine> lines = s.world->TakeNewLines();
        if (lines.empty() || !s.onMessage) {
            return;
        }
        for (const ChatLine& l : lines) {
            if (!StillOpen(epoch)) {
                return;
            }
            CallMessage(*gSession, l.speaker, static_cast<int16_t>(l.kind), l.text);
        }
    }
}

// Reports a request's status, after the notices it caused, and returns it as
// a number.
int32_t Answer(unsigned epoch, std::string_view status) {
    FlushNotices(epoch);
    if (StillOpen(epoch)) {
        CallStatus(*gSession, status);
    }
    return StatusNumber(status);
}

void Schedule(Session& s, int delayMs, Scheduled item) {
    const UINT_PTR id = s.nextId++;
    s.scheduled.emplace(id, std::move(item));
    const bool queued = delayMs <= 0 ? PostMessageW(s.window, kDeliverMessage, id, 0) != 0
                                     : SetTimer(s.window, id, static_cast<UINT>(delayMs), nullptr);
    if (!queued) {
        // A full message queue: try again with the shortest timer.
        SetTimer(s.window, id, USER_TIMER_MINIMUM, nullptr);
    }
}

// Runs a scheduled item whose time has come.
void RunScheduled(UINT_PTR id) {
    Session* s = Link();
    if (!s) {
        return;
    }
    KillTimer(s->window, id);
    const auto it = s->scheduled.find(id);
    if (it == s->scheduled.end()) {
        return;
    }
    Scheduled item = std::move(it->second);
    s->scheduled.erase(it);
    const unsigned epoch = gEpoch;
    if (auto* delivery = std::get_if<TextDelivery>(&item)) {
        CallText(*s, delivery->framed);
    } else if (auto* message = std::get_if<ScriptedMessage>(&item)) {
        CallMessage(*s, message->speaker, message->number, message->said);
    } else {
        s->world->AddLine(std::get<ChatLine>(std::move(item)));
        FlushNotices(epoch);
    }
}

LRESULT CALLBACK LinkWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    try {
        if (msg == WM_TIMER && wParam == kChatterTimer) {
            if (Session* s = Link(); s && s->window == hwnd && s->world) {
                s->world->Chatter();
                FlushNotices(gEpoch);
            }
            return 0;
        }
        if ((msg == WM_TIMER && wParam >= kFirstScheduledId) || msg == kDeliverMessage) {
            if (Session* s = Link(); s && s->window == hwnd) {
                RunScheduled(static_cast<UINT_PTR>(wParam));
            }
            return 0;
        }
    } catch (...) {
        // Out of memory inside the simulation: this event is lost, the
        // plug-in's message loop goes on.
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

void CloseLink() {
    Session* s = gSession.get();
    if (s->window) {
        KillTimer(s->window, kChatterTimer);
        for (const auto& entry : s->scheduled) {
            KillTimer(s->window, entry.first);
        }
        DestroyWindow(s->window);
    }
    UnregisterClassW(kWindowClass, ThisModule());
    gSession.reset();
    ++gEpoch;
}

bool Usable(const char* plugin) {
    return plugin && plugin[0] != '\0';
}

// Runs an entry point's body; a failure inside (out of memory) never crosses
// into the plug-in: the call returns -1.
template <typename Body>
int32_t Guard(Body body) noexcept {
    try {
        return body();
    } catch (...) {
        return -1;
    }
}

std::string CallbackArgument(const void* callback, const char* name) {
    return callback ? name : "null";
}

// Reads VELLQUIB_SCRIPT into gScript unless it is read already. False, with
// the error logged and on standard error, when the script cannot be used.
bool LoadScript(const std::string& path) {
    if (gScript) {
        return true;
    }
    std::string text;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    std::string error;
    if (!file) {
        error = "script " + path + ": cannot be read";
    } else {
        char chunk[4096];
        size_t n = 0;
        while (text.size() <= vellsim::kMaxScriptBytes &&
               (n = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
            text.append(chunk, n);
        }
        std::fclose(file);
        auto parsed = vellsim::ParseScript(text);
        if (auto* script = std::get_if<vellsim::Script>(&parsed)) {
            gScript = std::move(*script);
            return true;
        }
        const auto& e = std::get<vellsim::ScriptError>(parsed);
        error = "script " + path + (e.line > 0 ? " line " + std::to_string(e.line) : "") + ": " +
                e.what;
    }
    error += "; InitDDE returns " + std::to_string(kScriptUnusable);
    LogNote(error);
    ToStandardError(error);
    return false;
}

// The buffers of the QuibCommunicate being answered, for write events: each
// may take as many bytes as it held, its NUL included.
struct Buffers {
    char* avatar = nullptr;
    size_t avatarSize = 0;
    char* message = nullptr;
    size_t messageSize = 0;
};

void Overwrite(char* buffer, size_t size, const std::string& bytes) {
    const size_t n = std::min(size, bytes.size() + 1);  // the string and its NUL
    std::memcpy(buffer, bytes.c_str(), n);
}

// Runs the events of a script answer: those for now at once (stopping when
// a callback closes the link), the others scheduled on the link window.
void RunEvents(unsigned epoch, const vellsim::ScriptAnswer& answer, const Buffers& buffers) {
    using Kind = vellsim::ScriptEvent::Kind;
    for (const vellsim::ScriptEvent& ev : answer.events) {
        if (!StillOpen(epoch)) {
            return;
        }
        Session& s = *gSession;
        if (ev.kind == Kind::WriteAvatar || ev.kind == Kind::WriteMessage) {
            const bool avatar = ev.kind == Kind::WriteAvatar;
            Overwrite(avatar ? buffers.avatar : buffers.message,
                      avatar ? buffers.avatarSize : buffers.messageSize, ev.bytes);
            continue;
        }
        if (ev.when == vellsim::When::Now) {
            if (ev.kind == Kind::Text) {
                CallText(s, ev.bytes);
            } else {
                CallMessage(s, ev.bytes, ev.number, ev.said);
            }
            continue;
        }
        const int delayMs = ev.when == vellsim::When::After ? ev.delayMs : 0;
        if (ev.kind == Kind::Text) {
            Schedule(s, delayMs, TextDelivery{ev.bytes});
        } else {
            Schedule(s, delayMs, ScriptedMessage{ev.bytes, ev.number, ev.said});
        }
    }
}

// Answers a call from the script: its events, then its status (if any).
int32_t Scripted(Export e, unsigned epoch, const Buffers& buffers = {}) {
    const vellsim::ScriptAnswer* answer = gSession->script->Next(e);
    const bool request =
        e == Export::QuibCommunicate || e == Export::QuibGetAllText || e == Export::QuibSend;
    if (!answer) {
        if (!request) {
            return 0;
        }
        LogNote(std::string("script: no answer left for ") + vellsim::ExportName(e) +
                ", so it reports \"" VELLQUIB_STATUS_REFUSED "\"");
        return Answer(epoch, vellsim::kStatusRefused);
    }
    RunEvents(epoch, *answer, buffers);
    if (!answer->status) {
        return 0;
    }
    return Answer(epoch, *answer->status);
}

// QuibRegister and QuibUnregister: change reports whether the world's
// registration changed.
template <typename Change>
int32_t Registration(const char* name, const char* plugin, Export e, Change change) {
    return Guard([&]() -> int32_t {
        LogCall(vellsim::Invocation(name, {vellsim::QuotedArgument(plugin)}));
        Session* s = Link();
        if (!s || !Usable(plugin)) {
            return -1;
        }
        if (s->script) {
            return Scripted(e, gEpoch);
        }
        const bool changed = change(*s->world, plugin);
        FlushNotices(gEpoch);
        return changed ? 0 : 1;
    });
}

}  // namespace

extern "C" {

// A plug-in that unloads the library without KillDDE would leave the link
// window behind with its procedure gone; the next message to it (a pending
// delivery, a timer) would crash the plug-in. So unloading closes the link
// when it can: on the link's thread and not at process exit, where the
// system tears the windows down itself.
BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr && Link()) {
        CloseLink();
    }
    return TRUE;
}

int16_t VELLQUIB_CALL InitDDE(const char* plugin, QuibStatusCallback onStatus,
                              QuibMessageCallback onMessage, QuibTextCallback onText) {
    return static_cast<int16_t>(Guard([&]() -> int32_t {
        LogCall(vellsim::Invocation(
            "InitDDE", {vellsim::QuotedArgument(plugin),
                        CallbackArgument(reinterpret_cast<const void*>(onStatus), "onStatus"),
                        CallbackArgument(reinterpret_cast<const void*>(onMessage), "onMessage"),
                        CallbackArgument(reinterpret_cast<const void*>(onText), "onText")}));
        if (gSession) {
            return 2;  // already open
        }
        if (!Usable(plugin)) {
            return -1;
        }
        vellsim::Config config = vellsim::Config::FromEnvironment(&EnvironmentValue);
        const std::optional<std::string> scriptPath = EnvironmentValue("VELLQUIB_SCRIPT");
        const vellsim::ScriptAnswer* answer = nullptr;
        if (scriptPath && !scriptPath->empty()) {
            if (!LoadScript(*scriptPath)) {
                return kScriptUnusable;
            }
            answer = gScript->Next(Export::InitDDE);
            if (answer && answer->initResult != 0) {
                LogNote("script line " + std::to_string(answer->line) + ": InitDDE returns " +
                        std::to_string(answer->initResult));
                return answer->initResult;
            }
        } else if (config.initResult != 0) {
            return config.initResult;
        }
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = &LinkWindowProc;
        wc.hInstance = ThisModule();
        wc.lpszClassName = kWindowClass;
        if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
            return 3;
        }
        const HWND window = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                            nullptr, ThisModule(), nullptr);
        if (!window) {
            UnregisterClassW(kWindowClass, ThisModule());
            return 3;
        }
        auto session = std::make_unique<Session>();
        session->thread = GetCurrentThreadId();
        session->window = window;
        session->onStatus = onStatus;
        session->onMessage = onMessage;
        session->onText = onText;
        if (gScript && scriptPath && !scriptPath->empty()) {
            session->script = &*gScript;
            LogNote("link open; answers from the script " + *scriptPath);
        } else {
            session->world = std::make_unique<World>(std::move(config));
            const vellsim::Config& c = session->world->Settings();
            LogNote("link open; simulated world, seed " + std::to_string(c.seed) + ", busy " +
                    std::to_string(c.busyPercent) + "%");
            if (c.chatterMs > 0) {
                SetTimer(window, kChatterTimer, static_cast<UINT>(c.chatterMs), nullptr);
            }
        }
        gSession = std::move(session);
        ++gEpoch;
        if (answer) {
            RunEvents(gEpoch, *answer, Buffers{});
        }
        return 0;
    }));
}

int32_t VELLQUIB_CALL KillDDE(void) {
    return Guard([]() -> int32_t {
        LogCall("KillDDE()");
        if (!Link()) {
            return -1;
        }
        CloseLink();
        return 0;
    });
}

int32_t VELLQUIB_CALL QuibRegister(const char* plugin) {
    return Registration("QuibRegister", plugin, Export::QuibRegister,
                        [](World& w, const char* p) { return w.Register(p); });
}

int32_t VELLQUIB_CALL QuibUnregister(const char* plugin) {
    return Registration("QuibUnregister", plugin, Export::QuibUnregister,
                        [](World& w, const char* p) { return w.Unregister(p); });
}

int32_t VELLQUIB_CALL QuibCommunicate(const char* plugin, int16_t mode, char* avatar,
                                      char* message) {
    return Guard([&]() -> int32_t {
        LogCall(vellsim::Invocation(
            "QuibCommunicate",
            {vellsim::QuotedArgument(plugin), std::to_string(mode), vellsim::QuotedArgument(avatar),
             vellsim::QuotedArgument(message)}));
        Session* s = Link();
        if (!s) {
            return -1;
        }
        const unsigned epoch = gEpoch;
        if (!Usable(plugin) || !avatar || !message) {
            return Answer(epoch, vellsim::kStatusRefused);
        }
        if (s->script) {
            const Buffers buffers{avatar, std::strlen(avatar) + 1, message,
                                  std::strlen(message) + 1};
            return Scripted(Export::QuibCommunicate, epoch, buffers);
        }
        World::CommunicateResult r = s->world->Communicate(plugin, mode, avatar, message);
        if (r.reply) {
            Schedule(*s, r.reply->delayMs, std::move(r.reply->line));
        }
        return Answer(epoch, r.status);
    });
}

int32_t VELLQUIB_CALL QuibGetAllText(const char* plugin) {
    return Guard([&]() -> int32_t {
        LogCall(vellsim::Invocation("QuibGetAllText", {vellsim::QuotedArgument(plugin)}));
        Session* s = Link();
        if (!s) {
            return -1;
        }
        const unsigned epoch = gEpoch;
        if (!Usable(plugin)) {
            return Answer(epoch, vellsim::kStatusRefused);
        }
        if (s->script) {
            return Scripted(Export::QuibGetAllText, epoch);
        }
        const std::string status = s->world->Admit(plugin, "Get all text");
        if (status == vellsim::kStatusOk) {
            // The buffer as it stands now, notices of this request included;
            // it arrives later, from the link window's message.
            Schedule(*s, s->world->Settings().deliveryDelayMs,
                     TextDelivery{s->world->FramedBuffer()});
        }
        return Answer(epoch, status);
    });
}

int32_t VELLQUIB_CALL IsVellThere(void) {
    return Guard([]() -> int32_t {
        LogCall("IsVellThere()");
        return Link() ? 1 : 0;
    });
}

int32_t VELLQUIB_CALL QuibSend(const char* plugin, const char* command) {
    return Guard([&]() -> int32_t {
        LogCall(vellsim::Invocation(
            "QuibSend", {vellsim::QuotedArgument(plugin), vellsim::QuotedArgument(command)}));
        Session* s = Link();
        if (!s) {
            return -1;
        }
        const unsigned epoch = gEpoch;
        if (!Usable(plugin) || !command) {
            return Answer(epoch, vellsim::kStatusRefused);
        }
        if (s->script) {
            return Scripted(Export::QuibSend, epoch);
        }
        // The simulated host understands no commands: a registered plug-in's
        // command is accepted and has no effect.
        return Answer(epoch, s->world->Admit(plugin, "Send"));
    });
}

}  // extern "C"
