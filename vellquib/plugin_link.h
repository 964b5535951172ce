// The link between a host library of ours and the plug-in that opened it
// with InitDDE: the plug-in's callbacks, the thread that owns the link, and a
// hidden message-only window on that thread whose timers and posted messages
// run scheduled work while the plug-in dispatches its messages. One link per
// process at a time. What answers the plug-in's calls is not the link's
// business; see answerer.h for the stand-in's.
//
// Every callback is logged (process_log.h) just before it is made. A
// callback may close the link (KillDDE) or call the library again, so each
// callback method reports whether the link is still open afterwards; on
// false the caller returns at once and touches nothing the link owned.
//
// While a link is open it holds a reference to the library it lives in, so
// that a plug-in that unloads the library without KillDDE cannot leave the
// window behind with its procedure gone. The library then stays loaded,
// link and all, until KillDDE or the end of the process. Nothing is done at
// DLL_PROCESS_DETACH: closing a window there, under the loader lock, can
// deadlock.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "vellquib.h"

namespace quib::standin {

class PluginLink {
  public:
    // Claims the process's link for the calling thread: nullptr when a link
    // is open already (on any thread). Nothing is made yet; destroying the
    // claim gives it up.
    static std::unique_ptr<PluginLink> Claim();

    // Whether a link is claimed, and whether by the calling thread. Safe from
    // any thread: a call from a thread that does not own the link must be
    // told apart without touching the link.
    static bool Claimed();
    static bool CallerOwnsLink();

    // Opens the claimed link: makes its window and keeps the library loaded.
    // False when the window cannot be made. Null callbacks are not called.
    bool Open(QuibStatusCallback onStatus, QuibMessageCallback onMessage, QuibTextCallback onText);

    // Closes the link: no timer, delivery or callback comes afterwards.
    ~PluginLink();
    PluginLink(const PluginLink&) = delete;
    PluginLink& operator=(const PluginLink&) = delete;

    // The callbacks, each logged before it is made. True when the link is
    // still open after it (also when there is no such callback).
    bool Status(std::string_view status);
    bool Message(std::string_view speaker, int16_t number, std::string_view said);
    bool Text(std::string_view buffer);

    // Runs work on the owning thread while the plug-in dispatches messages:
    // once, delayMs from now (0: at the next dispatch), or every periodMs.
    // Work still waiting when the link closes never runs.
    // textDelivery: the work delivers text that the plug-in waits for (the
    // checker watches that the plug-in dispatches messages meanwhile).
    void Schedule(int delayMs, std::function<void()> work, bool textDelivery = false);
    void Every(int periodMs, std::function<void()> work);

    // VELLQUIB_HOSTILE, read when the link opens: null adds to every message a
    // line whose empty strings come as null pointers, negative one whose
    // lengths are negative, huge grows every text delivery to 16 MiB, stuck
    // has every request answered "6" for the first 3 s of the link.
    enum class Hostile { None, Null, Negative, Huge, Stuck };
    // Whether a request is to be answered "6" now (stuck).
    bool Stuck() const;

  private:
    struct Scheduled {
        std::function<void()> work;
        bool repeats = false;
    };

    PluginLink() = default;
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    void RunDue(UINT_PTR id);
    UINT_PTR Add(std::function<void()> work, bool repeats);
    static bool StillOpen(unsigned generation);
    // A callback string's bytes; an empty one as a null pointer when the
    // hostile profile says so.
    const char* Bytes(std::string_view s) const {
        return hostile_ == Hostile::Null && s.empty() ? nullptr : s.data();
    }

    unsigned generation_ = 0;
    HWND window_ = nullptr;
    HMODULE library_ = nullptr;  // the reference that keeps the library loaded
    QuibStatusCallback onStatus_ = nullptr;
    QuibMessageCallback onMessage_ = nullptr;
    QuibTextCallback onText_ = nullptr;
    Hostile hostile_ = Hostile::None;
    DWORD openedAt_ = 0;  // GetTickCount when the link opened
    std::map<UINT_PTR, Scheduled> scheduled_;
    UINT_PTR nextId_ = 1;
};

}  // namespace quib::standin
