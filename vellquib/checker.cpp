#include "checker.h"

#include <windows.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "call_log.h"
#include "plugin_link.h"
#include "process_log.h"
#include "script.h"
#include "vellquib.h"

namespace quib::standin::check {

std::atomic<int> gMode{-1};
const char* gCallback = nullptr;
std::atomic<uint32_t> gOwner{0};
std::atomic<bool> gQuiet{false};

uint32_t ThreadIdByCall() {
    return GetCurrentThreadId();
}

namespace {

enum class Rule {
    UnloadBeforeKill,
    ThreadCaller,
    CallInCallback,
    NoMessageLoop,
    NullArgument,
    BufferNotWritable,
    RepeatNotAsLeft,
    BufferWrittenAfterCall,
    RetryAfterRefused,
    RepeatWithoutRegister,
    RetryUnbounded,
    RetryWithoutStatus,
    CallBeforeInit,
    InitTwice,
    InitAfterKill,
    NameChanged,
    CallAfterKill,
    Count
};

struct RuleText {
    const char* id;
    const char* severity;  // "error" for a rule, "warning" for advice
    const char* section;
    const char* sentence;  // as the header words it
};

// In the order of Rule; the ids and sentences are those of vellquib.h.
constexpr std::array<RuleText, static_cast<size_t>(Rule::Count)> kRules = {{
    {"VQ-UNLOAD-BEFORE-KILL", "error", "LOADING",
     "Unload the library only after KillDDE has returned, and never from inside a callback."},
    {"VQ-THREAD-CALLER", "error", "THREADS AND MESSAGES",
     "The thread that calls InitDDE owns the link. Make every later call from that thread."},
    {"VQ-CALL-IN-CALLBACK", "error", "THREADS AND MESSAGES",
     "store what the callback brings and act on it after the call returns."},
    {"VQ-NO-MESSAGE-LOOP", "error", "THREADS AND MESSAGES",
     "So the owning thread must run a message loop while it waits for a text delivery; a thread "
     "that only sleeps never receives one."},
    {"VQ-NULL-ARGUMENT", "error", "STRINGS AND ENCODING",
     "To the library: NUL-terminated strings."},
    {"VQ-BUFFER-NOT-WRITABLE", "error", "STRINGS AND ENCODING",
     "The two buffers of QuibCommunicate (avatar, message) are writable."},
    {"VQ-REPEAT-NOT-AS-LEFT", "error", "STRINGS AND ENCODING",
     "After the call read back as many bytes as were sent (not up to a NUL); to repeat the "
     "request, send those bytes again with a NUL after them."},
    {"VQ-BUFFER-WRITTEN-AFTER-CALL", "error", "STRINGS AND ENCODING",
     "After the call read back as many bytes as were sent (not up to a NUL); to repeat the "
     "request, send those bytes again with a NUL after them."},
    {"VQ-RETRY-AFTER-REFUSED", "error", "STATUSES",
     "refused: the request cannot succeed as it stands; stop, do not repeat."},
    {"VQ-REPEAT-WITHOUT-REGISTER", "error", "STATUSES",
     "the plug-in is not registered; call QuibRegister, then repeat."},
    {"VQ-RETRY-UNBOUNDED", "warning", "STATUSES, Advice",
     "bound the repetitions (by count or time) so that a host that stays busy cannot hold the "
     "plug-in for ever."},
    {"VQ-RETRY-WITHOUT-STATUS", "warning", "STATUSES, Advice",
     "end a request that returns without a status instead of repeating it."},
    {"VQ-CALL-BEFORE-INIT", "error", "InitDDE",
     "Call it before any other export, on the thread that will own the link."},
    {"VQ-INIT-TWICE", "error", "InitDDE", "A host opens one link at a time."},
    {"VQ-INIT-AFTER-KILL", "warning", "InitDDE, Advice",
     "call InitDDE once per load of the library; to start afresh, unload the library and load "
     "it again."},
    {"VQ-NAME-CHANGED", "error", "InitDDE",
     "pass the same name to every export that takes one, as the host registers and answers by "
     "name."},
    {"VQ-CALL-AFTER-KILL", "error", "KillDDE",
     "Call it once, from the owning thread, before unloading the library."},
}};

// Repetitions of one request in a row that count as unbounded: far above any
// sensible bound (QuibDemo stops at 200, the example at 50).
constexpr int kUnboundedRepeats = 1000;
// How long a due text delivery may wait for the thread to dispatch messages.
constexpr DWORD kLoopBoundMs = 2000;

int gLimit = 10;
std::array<std::atomic<int>, static_cast<size_t>(Rule::Count)> gCounts{};
std::atomic<int> gReported{0};  // reports since the last summary
bool gEnding = false;           // the process ends: fatal ends nothing more

// A request as the plug-in sent it, and what the library left in its buffers.
struct Request {
    Export api = Export::QuibRegister;
    std::string plugin, avatar, message, command;
    int16_t mode = 0;
    // QuibCommunicate: the sent bytes and the NUL after them, after the call.
    std::string avatarLeft, messageLeft;
    bool statusCame = false;
    std::string status;
};

struct PendingDelivery {
    uintptr_t id;
    DWORD due;
};

// The link as the checker sees it. Touched by the link's thread only (and by
// any thread while no link is open); other threads read gOwner alone.
struct State {
    bool everInit = false;  // InitDDE was called in this load of the library
    bool open = false;
    bool killed = false;  // KillDDE closed a link in this load
    std::string name;
    int depth = 0;                    // calls in progress on the link's thread
    std::array<Request, 2> requests;  // the request in progress and the one before
    size_t current = 0;
    bool havePrevious = false;
    bool registeredSince = false;  // QuibRegister since the previous request
    int repeats = 0;
    std::vector<PendingDelivery> pending;
    // Memory regions found writable, by the two buffers' last check.
    std::array<std::pair<uintptr_t, uintptr_t>, 2> writable{};
};

State gState;

// Whether IsVellThere on the link's thread needs no judging: the link is
// open and no delivery waits.
void UpdateQuiet() {
    gQuiet.store(gState.open && gState.pending.empty(), std::memory_order_relaxed);
}

void Summary(bool always);

// Reports a broken rule: the call (may be null) and what was seen.
void Report(Rule rule, const CallScope* call, const std::string& seen) {
    const RuleText& r = kRules[static_cast<size_t>(rule)];
    const int count = ++gCounts[static_cast<size_t>(rule)];
    gReported.fetch_add(1);
    if (count > gLimit) {
        return;
    }
    std::string text = std::string(r.severity) + " " + r.id + ": ";
    if (call) {
        text += call->Invocation() + " ";
    }
    text += seen + "; the rule (" + r.section + "): " + r.sentence;
    ToStandardError(text);
    LogNote(text);
    if (count == gLimit && gMode.load() != 2) {
        const std::string last = std::string("note ") + r.id + ": reported " +
                                 std::to_string(gLimit) +
                                 " times, this is the last time (VELLQUIB_CHECK_LIMIT); further "
                                 "ones are only counted";
        ToStandardError(last);
        LogNote(last);
    }
    if (gMode.load() == 2 && !gEnding) {
        const std::string end = "VELLQUIB_CHECK=fatal: the process ends with exit code " +
                                std::to_string(kFatalExitCode);
        ToStandardError(end);
        LogNote(end);
        ExitProcess(kFatalExitCode);
    }
}

// The counts of every rule reported so far; with always false, only when
// something was reported since the last summary.
void Summary(bool always) {
    if (gReported.exchange(0) == 0 && !always) {
        return;
    }
    std::string counts;
    for (size_t i = 0; i < kRules.size(); ++i) {
        if (const int n = gCounts[i].load()) {
            counts +=
                (counts.empty() ? " " : ", ") + std::string(kRules[i].id) + " " + std::to_string(n);
        }
    }
    if (counts.empty()) {
        LogNote("checks: no rule broken");
        return;
    }
    const std::string text = "checks: reports so far:" + counts;
    ToStandardError(text);
    LogNote(text);
}

// The memory of [p, p + n) can be written: committed, writable, no guard.
bool Writable(const char* p, size_t n, std::pair<uintptr_t, uintptr_t>& known) {
    const uintptr_t begin = reinterpret_cast<uintptr_t>(p);
    const uintptr_t end = begin + n;
    if (begin >= known.first && end <= known.second) {
        return true;
    }
    constexpr DWORD kWrite =
        PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    for (uintptr_t at = begin; at < end;) {
        MEMORY_BASIC_INFORMATION info;
        if (VirtualQuery(reinterpret_cast<const void*>(at), &info, sizeof info) == 0 ||
            info.State != MEM_COMMIT || !(info.Protect & kWrite) || (info.Protect & PAGE_GUARD)) {
            return false;
        }
        const uintptr_t regionEnd = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
        known = {reinterpret_cast<uintptr_t>(info.BaseAddress), regionEnd};
        at = regionEnd;
    }
    if (end > known.second || begin < known.first) {
        known = {begin, end};
    }
    return true;
}

// What the plug-in must send to repeat a request whose buffer the library
// left so: the bytes sent, as a string the library reads up to a NUL.
std::string_view AsLeft(const std::string& left) {
    const std::string_view sent(left.data(), left.empty() ? 0 : left.size() - 1);
    return sent.substr(0, sent.find('\0'));
}

bool LeftChanged(const std::string& sent, const std::string& left) {
    return left.size() != sent.size() + 1 || left.compare(0, sent.size(), sent) != 0 ||
           left.back() != '\0';
}

bool StartsWith(std::string_view text, std::string_view start) {
    return text.substr(0, start.size()) == start;
}

void Assign(std::string& to, const char* from) {
    if (from) {
        to.assign(from);
    } else {
        to.clear();
    }
}

bool TakesName(Export api) {
    return api != Export::KillDDE && api != Export::IsVellThere;
}

// Delivery waiting past its bound for the thread to dispatch messages.
void CheckDeliveries(const CallScope* call) {
    State& s = gState;
    const DWORD now = GetTickCount();
    for (auto it = s.pending.begin(); it != s.pending.end();) {
        const DWORD late = now - it->due;
        if (static_cast<int32_t>(late) > static_cast<int32_t>(kLoopBoundMs)) {
            Report(Rule::NoMessageLoop, call,
                   std::string(call ? "called while " : "") + "a text delivery has waited " +
                       std::to_string(late) + " ms for the thread to dispatch its messages");
            it = s.pending.erase(it);
            UpdateQuiet();
        } else {
            ++it;
        }
    }
}

// Judges a request against the one before it: repeated after a status
// that ends it, without registering, and with the buffers as left.
void JudgeRepeat(const CallScope& call, const Request& now, const Request& before) {
    State& s = gState;
    if (before.statusCame && before.status == VELLQUIB_STATUS_OK) {
        s.repeats = 0;  // a new request
        return;
    }
    const bool communicate = now.api == Export::QuibCommunicate;
    const bool sameArgs =
        now.api == before.api && now.plugin == before.plugin && now.mode == before.mode &&
        now.command == before.command &&
        (!communicate || (now.avatar == before.avatar && now.message == before.message) ||
         (now.avatar == AsLeft(before.avatarLeft) && now.message == AsLeft(before.messageLeft)));
    if (!sameArgs) {
        s.repeats = 0;
    } else {
        if (!before.statusCame) {
            Report(Rule::RetryWithoutStatus, &call,
                   "repeats the request that returned without a status");
        } else if (before.status == VELLQUIB_STATUS_REFUSED) {
            Report(Rule::RetryAfterRefused, &call, "repeats the request answered \"-1\"");
        } else if (before.status == VELLQUIB_STATUS_NOT_REGISTERED && !s.registeredSince) {
            Report(Rule::RepeatWithoutRegister, &call,
                   "repeats the request answered \"10\" without QuibRegister");
        }
        if (++s.repeats == kUnboundedRepeats) {
            Report(Rule::RetryUnbounded, &call,
                   "repeats the same request for the " + std::to_string(kUnboundedRepeats) +
                       "th time in a row");
        }
    }
    if (!communicate || now.api != before.api || !before.statusCame ||
        before.status == VELLQUIB_STATUS_REFUSED) {
        return;
    }
    // After a status that asks for a repetition, of a request whose buffers
    // the library wrote.
    const std::pair<const char*, const std::string*> buffers[] = {{"avatar", &before.avatar},
                                                                  {"message", &before.message}};
    const std::string* nowBytes[] = {&now.avatar, &now.message};
    const std::string* left[] = {&before.avatarLeft, &before.messageLeft};
    for (size_t i = 0; i < 2; ++i) {
        const std::string& sent = *buffers[i].second;
        if (!LeftChanged(sent, *left[i])) {
            continue;
        }
        const std::string_view expected = AsLeft(*left[i]);
        const std::string& got = *nowBytes[i];
        if (got == expected) {
            continue;
        }
        const std::string where = std::string(buffers[i].first) + " ";
        if (got == sent) {
            Report(Rule::BufferWrittenAfterCall, &call,
                   "sends its own " + where + Quoted(sent) + " again where the library left " +
                       Quoted(expected));
        } else if (StartsWith(got, expected)) {
            Report(Rule::RepeatNotAsLeft, &call,
                   "sends the " + where + Quoted(got) + " where the library left " +
                       Quoted(expected) + " and a NUL must follow");
        }
    }
}

// At the end of the process (or when the library is unloaded): a link still
// open was never closed, and the counts of what was reported. Registered by
// the first InitDDE, after the call log, so that it runs while the log is open.
void AtProcessEnd() {
    gEnding = true;
    try {
        if (!gState.pending.empty() && gState.open) {
            CheckDeliveries(nullptr);
        }
        if (gState.open) {
            Report(Rule::UnloadBeforeKill, nullptr,
                   "the library is unloaded (the process ends) while the link " +
                       Quoted(gState.name) + " is open: KillDDE was not called");
        }
        Summary(false);
    } catch (...) {
    }
}

}  // namespace

int ReadMode() {
    int mode = 0;
    if (const auto value = EnvironmentValue("VELLQUIB_CHECK")) {
        if (*value == "fatal") {
            mode = 2;
        } else if (!value->empty() && *value != "off" && *value != "0") {
            mode = 1;
        }
    }
    if (const auto limit = EnvironmentValue("VELLQUIB_CHECK_LIMIT")) {
        const long n = std::strtol(limit->c_str(), nullptr, 10);
        if (n > 0 && n < 1000000) {
            gLimit = static_cast<int>(n);
        }
    }
    gMode.store(mode);
    return mode;
}

void CallScope::Enter() {
    const DWORD me = ThisThread();
    const DWORD owner = gOwner.load(std::memory_order_relaxed);
    if (owner != 0 && owner != me) {
        Report(Rule::ThreadCaller, this,
               "called on thread " + std::to_string(me) + "; the link belongs to thread " +
                   std::to_string(owner));
        return;
    }
    State& s = gState;
    // IsVellThere may come from anywhere on the link's thread, callbacks
    // included: on an open link with no delivery waiting nothing is judged.
    if (api_ == Export::IsVellThere && s.open && s.pending.empty()) {
        return;
    }
    entered_ = true;
    if (!s.pending.empty()) {
        CheckDeliveries(this);
    }
    if (s.depth > 0 && api_ != Export::IsVellThere) {
        Report(Rule::CallInCallback, this,
               std::string("called inside ") + (gCallback ? gCallback : "a callback"));
    }
    if (api_ == Export::InitDDE) {
        if (s.open) {
            Report(Rule::InitTwice, this, "called while the link it opened is open");
        } else if (s.killed) {
            Report(Rule::InitAfterKill, this,
                   "called again after KillDDE in the same load of the library");
        }
    } else if (!s.open) {
        if (s.killed) {
            Report(Rule::CallAfterKill, this, "called after KillDDE closed the link");
        } else if (!s.everInit) {
            Report(Rule::CallBeforeInit, this, "called before InitDDE");
        } else if (api_ != Export::KillDDE) {
            Report(Rule::CallBeforeInit, this, "called though InitDDE opened no link");
        }
    }
    if (TakesName(api_)) {
        if (!args_.plugin) {
            Report(Rule::NullArgument, this, "called with a null pluginName");
        } else if (s.open && s.name != args_.plugin) {
            Report(Rule::NameChanged, this,
                   "called with another name than InitDDE's " + Quoted(s.name));
        }
    }
    size_t lengths[2] = {};  // of the two buffers
    if (api_ == Export::QuibCommunicate) {
        char* const buffers[] = {args_.avatar, args_.message};
        const char* const names[] = {"avatar", "message"};
        for (size_t i = 0; i < 2; ++i) {
            if (!buffers[i]) {
                Report(Rule::NullArgument, this, std::string("called with a null ") + names[i]);
            } else if (lengths[i] = std::strlen(buffers[i]);
                       !Writable(buffers[i], lengths[i] + 1, s.writable[i])) {
                Report(
                    Rule::BufferNotWritable, this,
                    std::string("called with an ") + names[i] + " buffer that cannot be written");
            }
        }
    } else if (api_ == Export::QuibSend && !args_.command) {
        Report(Rule::NullArgument, this, "called with a null command");
    }
    if (s.depth == 0 && api_ == Export::QuibRegister) {
        s.registeredSince = true;
    }
    if (s.depth == 0 && s.open && IsRequest(api_)) {
        tracked_ = true;
        Request& r = s.requests[s.current];
        r.api = api_;
        Assign(r.plugin, args_.plugin);
        r.avatar.assign(args_.avatar ? args_.avatar : "", lengths[0]);
        r.message.assign(args_.message ? args_.message : "", lengths[1]);
        Assign(r.command, args_.command);
        r.mode = args_.mode;
        r.statusCame = false;
        r.status.clear();
        if (s.havePrevious) {
            JudgeRepeat(*this, r, s.requests[1 - s.current]);
        }
    }
    ++s.depth;
}

void CallScope::Leave() noexcept {
    try {
        State& s = gState;
        --s.depth;
        if (api_ == Export::InitDDE && s.depth == 0) {
            if (!s.everInit) {
                std::atexit(&AtProcessEnd);
            }
            s.everInit = true;
            if (!s.open && PluginLink::CallerOwnsLink()) {
                s.open = true;
                s.name = args_.plugin ? args_.plugin : "";
                s.havePrevious = false;
                s.repeats = 0;
                gOwner.store(GetCurrentThreadId());
                UpdateQuiet();
            }
        } else if (api_ == Export::KillDDE && s.open && !PluginLink::CallerOwnsLink()) {
            s.open = false;
            s.killed = true;
            s.pending.clear();
            gOwner.store(0);
            UpdateQuiet();
            Summary(true);
        }
        if (tracked_) {
            Request& r = s.requests[s.current];
            // The bytes left are judged by the next request only after a
            // status that asks for a repetition.
            const bool ended = r.statusCame && r.status == VELLQUIB_STATUS_OK;
            if (r.api == Export::QuibCommunicate && args_.avatar && args_.message && !ended) {
                r.avatarLeft.assign(args_.avatar, r.avatar.size() + 1);
                r.messageLeft.assign(args_.message, r.message.size() + 1);
            } else {
                r.avatarLeft.clear();
                r.messageLeft.clear();
            }
            s.current = 1 - s.current;
            s.havePrevious = true;
            s.registeredSince = false;
        }
    } catch (...) {
        // Out of memory while keeping what the next call is judged by.
    }
}

void StatusSeenOn(std::string_view status) {
    State& s = gState;
    // The status of the request in progress, not of one made inside a
    // callback of it.
    if (s.depth == 1) {
        Request& r = s.requests[s.current];
        r.statusCame = true;
        r.status.assign(status);
    }
}

void DeliveryScheduledOn(uintptr_t id, int delayMs) {
    gState.pending.push_back({id, GetTickCount() + static_cast<DWORD>(delayMs > 0 ? delayMs : 0)});
    UpdateQuiet();
}

void WorkRanOn(uintptr_t id) {
    auto& pending = gState.pending;
    for (auto it = pending.begin(); it != pending.end(); ++it) {
        if (it->id == id) {
            pending.erase(it);
            UpdateQuiet();
            return;
        }
    }
}

}  // namespace quib::standin::check
