// The stand-in host library vellquib.dll: the C interface of
// bridge/vellquib.h around the simulated world of sim_world.h.
//
// One link per process. InitDDE opens it on the calling thread, creates a
// hidden message-only window there and starts the chatter timer on it; every
// callback is made on that thread, either inside a call of the plug-in or
// while the plug-in dispatches the window's messages (text deliveries, ESP
// answers, chatter). Calls from any other thread, before InitDDE or after
// KillDDE answer -1 and make no callback.
#include <windows.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "bridge/vellquib.h"
#include "vellquib/sim_world.h"

namespace {

using vellsim::ChatLine;
using vellsim::World;

constexpr wchar_t kWindowClass[] = L"VellQuibStandIn.Link";
constexpr UINT kDeliverMessage = WM_APP + 1;  // wParam: id of a scheduled delivery
constexpr UINT_PTR kChatterTimer = 1;
constexpr UINT_PTR kFirstScheduledId = 1000;

struct TextDelivery {
    std::string framed;
};
using Scheduled = std::variant<TextDelivery, ChatLine>;

struct Session {
    DWORD thread = 0;
    HWND window = nullptr;
    QuibStatusCallback onStatus = nullptr;
    QuibMessageCallback onMessage = nullptr;
    QuibTextCallback onText = nullptr;
    std::unique_ptr<World> world;
    // Deliveries and ESP answers waiting for their timer or posted message.
    std::map<UINT_PTR, Scheduled> scheduled;
    UINT_PTR nextId = kFirstScheduledId;
};

// The one link of the process. A callback may close it (KillDDE) or call the
// library again, so after every callback the code checks that the link it
// worked on is still open (same epoch) before it goes on.
std::unique_ptr<Session> gSession;
unsigned gEpoch = 0;

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

int32_t StatusNumber(std::string_view status) {
    return static_cast<int32_t>(std::strtol(std::string(status).c_str(), nullptr, 10));
}

int32_t Length(const std::string& s) {
    return static_cast<int32_t>(s.size());
}

// Tells the plug-in of every line the world gained, through MessageCallback:
// speaker, kind, text. Stops when a callback closes the link.
void FlushNotices(unsigned epoch) {
    while (StillOpen(epoch)) {
        Session& s = *gSession;
        std::vector<ChatLine> lines = s.world->TakeNewLines();
        if (lines.empty() || !s.onMessage) {
            return;
        }
        for (const ChatLine& l : lines) {
            if (!StillOpen(epoch)) {
                return;
            }
            gSession->onMessage(l.speaker.data(), Length(l.speaker), static_cast<int16_t>(l.kind),
                                l.text.data(), Length(l.text));
        }
    }
}

// Reports a request's status, after the notices it caused, and returns it as
// a number.
int32_t Answer(unsigned epoch, std::string_view status) {
    FlushNotices(epoch);
    if (StillOpen(epoch) && gSession->onStatus) {
        gSession->onStatus(status.data(), static_cast<int32_t>(status.size()));
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
        if (s->onText) {
            s->onText(delivery->framed.data(), Length(delivery->framed));
        }
    } else {
        s->world->AddLine(std::get<ChatLine>(std::move(item)));
        FlushNotices(epoch);
    }
}

LRESULT CALLBACK LinkWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    try {
        if (msg == WM_TIMER && wParam == kChatterTimer) {
            if (Session* s = Link(); s && s->window == hwnd) {
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
// into the plug-in: the call answers -1.
template <typename Body>
int32_t Guard(Body body) noexcept {
    try {
        return body();
    } catch (...) {
        return -1;
    }
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
        if (gSession) {
            return 2;  // already open
        }
        if (!Usable(plugin)) {
            return -1;
        }
        vellsim::Config config = vellsim::Config::FromEnvironment(&EnvironmentValue);
        if (config.initResult != 0) {
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
        session->world = std::make_unique<World>(std::move(config));
        if (session->world->Settings().chatterMs > 0) {
            SetTimer(window, kChatterTimer, static_cast<UINT>(session->world->Settings().chatterMs),
                     nullptr);
        }
        gSession = std::move(session);
        ++gEpoch;
        return 0;
    }));
}

int32_t VELLQUIB_CALL KillDDE(void) {
    return Guard([]() -> int32_t {
        if (!Link()) {
            return -1;
        }
        CloseLink();
        return 0;
    });
}

int32_t VELLQUIB_CALL QuibRegister(const char* plugin) {
    return Guard([&]() -> int32_t {
        Session* s = Link();
        if (!s || !Usable(plugin)) {
            return -1;
        }
        const bool changed = s->world->Register(plugin);
        FlushNotices(gEpoch);
        return changed ? 0 : 1;
    });
}

int32_t VELLQUIB_CALL QuibUnregister(const char* plugin) {
    return Guard([&]() -> int32_t {
        Session* s = Link();
        if (!s || !Usable(plugin)) {
            return -1;
        }
        const bool changed = s->world->Unregister(plugin);
        FlushNotices(gEpoch);
        return changed ? 0 : 1;
    });
}

int32_t VELLQUIB_CALL QuibCommunicate(const char* plugin, int16_t mode, char* avatar,
                                      char* message) {
    return Guard([&]() -> int32_t {
        Session* s = Link();
        if (!s) {
            return -1;
        }
        const unsigned epoch = gEpoch;
        if (!Usable(plugin) || !avatar || !message) {
            return Answer(epoch, vellsim::kStatusLinkClosed);
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
        Session* s = Link();
        if (!s) {
            return -1;
        }
        const unsigned epoch = gEpoch;
        if (!Usable(plugin)) {
            return Answer(epoch, vellsim::kStatusLinkClosed);
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
    return Link() ? 1 : 0;
}

int32_t VELLQUIB_CALL QuibSend(const char* plugin, const char* command) {
    return Guard([&]() -> int32_t {
        Session* s = Link();
        if (!s) {
            return -1;
        }
        const unsigned epoch = gEpoch;
        if (!Usable(plugin) || !command) {
            return Answer(epoch, vellsim::kStatusLinkClosed);
        }
        // The simulated host understands no commands: a registered plug-in's
        // command is accepted and has no effect.
        return Answer(epoch, s->world->Admit(plugin, "Send"));
    });
}

}  // extern "C"
