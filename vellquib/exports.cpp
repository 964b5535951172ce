// The stand-in host library vellquib.dll: the exports of the C interface
// (vellquib.h). Each logs the call, checks that the caller owns the open
// link and that the arguments every answer shares are usable, and hands the
// call to the link's answerer: the simulated world, or with VELLQUIB_SCRIPT
// the script (answerer.h). The link itself, its window and its timers are in
// plugin_link.h. Calls from another thread than the link's, before InitDDE
// or after KillDDE return -1 and make no callback.
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "answerer.h"
#include "call_log.h"
#include "checker.h"
#include "host_answerer.h"
#include "plugin_link.h"
#include "process_log.h"
#include "script.h"
#include "sim_world.h"

namespace {

using quib::standin::Answerer;
using quib::standin::CallArgs;
using quib::standin::Export;
using quib::standin::PluginLink;
using Check = quib::standin::check::CallScope;

// InitDDE's results besides 0 and the configured ones.
constexpr int16_t kAlreadyOpen = 2;
constexpr int16_t kNoWindow = 3;
constexpr int16_t kScriptUnusable = 4;  // VELLQUIB_SCRIPT cannot be read or is malformed
constexpr int16_t kNoHost = 6;  // VELLQUIB_HOST=required and no vellhost.exe takes the plug-in

// The open link and what answers its calls; the answerer goes first.
struct Session {
    std::unique_ptr<PluginLink> link;
    std::unique_ptr<Answerer> answerer;
};
// Touched only by the thread that owns the link (PluginLink::CallerOwnsLink).
std::optional<Session> gSession;

// The script, read by the first InitDDE that finds it usable; its answers
// go on from link to link while the library stays loaded.
std::optional<quib::standin::Script> gScript;

// The answerer of the open link, when the caller owns it.
Answerer* OwnAnswerer() {
    if (!PluginLink::CallerOwnsLink() || !gSession) {
        return nullptr;
    }
    return gSession->answerer.get();
}

bool Usable(const char* plugin) {
    return plugin && plugin[0] != '\0';
}

// Runs an export's body; a failure inside (out of memory) never crosses into
// the plug-in: the call returns -1.
template <typename Body>
int32_t MinusOneOnFailure(Body body) noexcept {
    try {
        return body();
    } catch (...) {
        return -1;
    }
}

// Logs a call as received and starts its check, which lasts until the
// export returns.
Check Received(Export what, const CallArgs& args) {
    quib::standin::LogCall(quib::standin::CallInvocation(what, args));
    return Check(what, args);
}

// Reads the script into gScript unless it is read already. False, with the
// error logged and on standard error, when it cannot be used.
bool LoadScript(const std::string& path) {
    if (gScript) {
        return true;
    }
    auto read = quib::standin::ReadScriptFile(path);
    if (auto* script = std::get_if<quib::standin::Script>(&read)) {
        gScript = std::move(*script);
        return true;
    }
    const std::string error =
        std::get<std::string>(read) + "; InitDDE returns " + std::to_string(kScriptUnusable);
    quib::standin::LogNote(error);
    quib::standin::ToStandardError(error);
    return false;
}

int16_t Open(const char* plugin, QuibStatusCallback onStatus, QuibMessageCallback onMessage,
             QuibTextCallback onText) {
    std::unique_ptr<PluginLink> link = PluginLink::Claim();
    if (!link) {
        return kAlreadyOpen;
    }
    if (!Usable(plugin)) {
        return -1;
    }
    quib::standin::Config config =
        quib::standin::Config::FromEnvironment(&quib::standin::EnvironmentValue);
    const std::optional<std::string> scriptPath =
        quib::standin::EnvironmentValue("VELLQUIB_SCRIPT");
    const bool scripted = scriptPath && !scriptPath->empty();
    const quib::standin::ScriptAnswer* answer = nullptr;
    if (scripted) {
        if (!LoadScript(*scriptPath)) {
            return kScriptUnusable;
        }
        answer = gScript->Next(Export::InitDDE);
        if (answer && answer->initResult != 0) {
            quib::standin::LogNote("script line " + std::to_string(answer->line) +
                                   ": InitDDE returns " + std::to_string(answer->initResult));
            return answer->initResult;
        }
    } else if (config.initResult != 0) {
        return config.initResult;
    }
    if (!link->Open(onStatus, onMessage, onText)) {
        return kNoWindow;
    }
    std::unique_ptr<Answerer> answerer;
    if (scripted) {
        answerer =
            std::make_unique<quib::standin::ScriptAnswerer>(*link, *gScript, *scriptPath, answer);
    } else {
        const quib::standin::HostChoice host = quib::standin::ChosenHost();
        if (host != quib::standin::HostChoice::Never) {
            answerer = quib::standin::JoinRunningHost(*link, plugin, config);
        }
        if (!answerer && host == quib::standin::HostChoice::Required) {
            quib::standin::LogNote(
                "no vellhost.exe runs, as VELLQUIB_HOST=required asks; InitDDE returns " +
                std::to_string(kNoHost));
            return kNoHost;
        }
        if (!answerer) {
            answerer = std::make_unique<quib::standin::WorldAnswerer>(*link, std::move(config));
        }
    }
    gSession = Session{std::move(link), std::move(answerer)};
    gSession->answerer->Opened();
    return 0;
}

// QuibRegister and QuibUnregister.
int32_t Registration(quib::standin::Export what, const char* plugin) {
    return MinusOneOnFailure([&]() -> int32_t {
        const Check check = Received(what, {.plugin = plugin});
        Answerer* a = OwnAnswerer();
        if (!a || !Usable(plugin)) {
            return -1;
        }
        return a->Answer({.what = what, .plugin = plugin});
    });
}

}  // namespace

extern "C" {

// No DllMain of its own: loading and unloading do nothing. A link that is
// open keeps the library loaded (plugin_link.h).

int16_t VELLQUIB_CALL InitDDE(const char* plugin, QuibStatusCallback onStatus,
                              QuibMessageCallback onMessage, QuibTextCallback onText) {
    return static_cast<int16_t>(MinusOneOnFailure([&]() -> int32_t {
        const Check check =
            Received(Export::InitDDE, {.plugin = plugin,
                                       .onStatus = reinterpret_cast<const void*>(onStatus),
                                       .onMessage = reinterpret_cast<const void*>(onMessage),
                                       .onText = reinterpret_cast<const void*>(onText)});
        return Open(plugin, onStatus, onMessage, onText);
    }));
}

int32_t VELLQUIB_CALL KillDDE(void) {
    return MinusOneOnFailure([]() -> int32_t {
        const Check check = Received(Export::KillDDE, {});
        if (!OwnAnswerer()) {
            return -1;
        }
        gSession.reset();
        return 0;
    });
}

int32_t VELLQUIB_CALL QuibRegister(const char* plugin) {
    return Registration(Export::QuibRegister, plugin);
}

int32_t VELLQUIB_CALL QuibUnregister(const char* plugin) {
    return Registration(Export::QuibUnregister, plugin);
}

int32_t VELLQUIB_CALL QuibCommunicate(const char* plugin, int16_t mode, char* avatar,
                                      char* message) {
    return MinusOneOnFailure([&]() -> int32_t {
        const Check check =
            Received(Export::QuibCommunicate,
                     {.plugin = plugin, .mode = mode, .avatar = avatar, .message = message});
        Answerer* a = OwnAnswerer();
        if (!a) {
            return -1;
        }
        if (!Usable(plugin) || !avatar || !message) {
            return a->Refuse();
        }
        return a->Answer({.what = Export::QuibCommunicate,
                          .plugin = plugin,
                          .mode = mode,
                          .avatar = avatar,
                          .message = message});
    });
}

int32_t VELLQUIB_CALL QuibGetAllText(const char* plugin) {
    return MinusOneOnFailure([&]() -> int32_t {
        const Check check = Received(Export::QuibGetAllText, {.plugin = plugin});
        Answerer* a = OwnAnswerer();
        if (!a) {
            return -1;
        }
        return Usable(plugin) ? a->Answer({.what = Export::QuibGetAllText, .plugin = plugin})
                              : a->Refuse();
    });
}

int32_t VELLQUIB_CALL IsVellThere(void) {
    return MinusOneOnFailure([]() -> int32_t {
        const Check check = Received(Export::IsVellThere, {});
        const Answerer* a = OwnAnswerer();
        return a && a->HostThere() ? 1 : 0;
    });
}

int32_t VELLQUIB_CALL QuibSend(const char* plugin, const char* command) {
    return MinusOneOnFailure([&]() -> int32_t {
        const Check check = Received(Export::QuibSend, {.plugin = plugin, .command = command});
        Answerer* a = OwnAnswerer();
        if (!a) {
            return -1;
        }
        return Usable(plugin) && command
                   ? a->Answer({.what = Export::QuibSend, .plugin = plugin, .command = command})
                   : a->Refuse();
    });
}

}  // extern "C"
