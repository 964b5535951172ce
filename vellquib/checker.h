// The rule checker of our host libraries: with VELLQUIB_CHECK=1 (or =fatal)
// the library watches the plug-in that uses it and reports every rule of the
// interface (vellquib.h, "RULE CHECKS") that the plug-in breaks, one line per
// violation on standard error and in the call log:
//
//   vellquib: error VQ-CALL-IN-CALLBACK: QuibCommunicate("Hello", 0, "", "hi")
//   called inside StatusCallback; the rule (THREADS AND MESSAGES): ...
//
// The exports open a CallScope for every call; the link opens a
// CallbackScope for every callback and tells of statuses and of text
// deliveries scheduled and run. With checks off (VELLQUIB_CHECK unset or
// "off") every hook is one test of a flag. With checks on, nothing is
// formatted unless a rule is broken, and the calls of the link's thread
// touch no lock.
//
// VELLQUIB_CHECK_LIMIT (default 10) bounds the reports of one rule; further
// ones are counted, and the counts of every rule are given at KillDDE and at
// the end of the process.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#if defined(_MSC_VER)
#include <intrin.h>
#endif

#include "call_log.h"
#include "script.h"

namespace quib::standin::check {

// The exit code of a process ended by VELLQUIB_CHECK=fatal.
inline constexpr unsigned kFatalExitCode = 86;

// 0 off, 1 on, 2 fatal; -1 until VELLQUIB_CHECK is read (at the first hook).
extern std::atomic<int> gMode;
int ReadMode();
inline bool On() {
    int mode = gMode.load(std::memory_order_relaxed);
    if (mode < 0) {
        mode = ReadMode();
    }
    return mode > 0;
}

// The calling thread's id, as GetCurrentThreadId gives it, read from the
// thread's environment block without a call.
uint32_t ThreadIdByCall();
inline uint32_t ThisThread() {
    uint32_t id;
#if defined(__GNUC__) && defined(__i386__)
    __asm__("movl %%fs:0x24, %0" : "=r"(id));
#elif defined(__GNUC__) && defined(__x86_64__)
    __asm__("movl %%gs:0x48, %0" : "=r"(id));
#elif defined(_M_IX86)
    id = __readfsdword(0x24);
#elif defined(_M_X64)
    id = static_cast<uint32_t>(__readgsqword(0x48));
#else
    id = ThreadIdByCall();
#endif
    return id;
}

// The thread that owns the open link (0: none), and whether IsVellThere on
// that thread needs no judging (the link is open, no delivery waits).
extern std::atomic<uint32_t> gOwner;
extern std::atomic<bool> gQuiet;
// The callback being made, innermost; null outside callbacks.
extern const char* gCallback;

// One call into the library, from its start to its return.
class CallScope {
  public:
    CallScope(Export api, const CallArgs& args) : api_(api), args_(args) {
        if (On() && !(api == Export::IsVellThere && gQuiet.load(std::memory_order_relaxed) &&
                      gOwner.load(std::memory_order_relaxed) == ThisThread())) {
            Enter();
        }
    }
    ~CallScope() {
        if (entered_) {
            Leave();
        }
    }
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;

    // The call as the log writes it.
    std::string Invocation() const { return CallInvocation(api_, args_); }

  private:
    void Enter();
    void Leave() noexcept;

    Export api_;
    CallArgs args_;
    bool entered_ = false;
    bool tracked_ = false;  // a request whose repetition is judged
};

// One callback, from just before it is made until it returns.
class CallbackScope {
  public:
    explicit CallbackScope(const char* name) {
        if (On()) {
            entered_ = true;
            outer_ = gCallback;
            gCallback = name;
        }
    }
    ~CallbackScope() {
        if (entered_) {
            gCallback = outer_;
        }
    }
    CallbackScope(const CallbackScope&) = delete;
    CallbackScope& operator=(const CallbackScope&) = delete;

  private:
    const char* outer_ = nullptr;
    bool entered_ = false;
};

void StatusSeenOn(std::string_view status);
void DeliveryScheduledOn(uintptr_t id, int delayMs);
void WorkRanOn(uintptr_t id);

// The status the library reports for the request in progress.
inline void StatusSeen(std::string_view status) {
    if (On()) {
        StatusSeenOn(status);
    }
}

// A text delivery scheduled on the link (id: the link's id of the work, due
// delayMs from now), and scheduled work that has run.
inline void DeliveryScheduled(uintptr_t id, int delayMs) {
    if (On()) {
        DeliveryScheduledOn(id, delayMs);
    }
}
inline void WorkRan(uintptr_t id) {
    if (On()) {
        WorkRanOn(id);
    }
}

}  // namespace quib::standin::check
