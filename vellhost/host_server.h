// The wire side of vellhost.exe: a hidden window that plug-ins' stand-in
// libraries find by its class (host_wire.h) and send their calls to. It
// answers each call from the world (host_world.h), queues what other plug-ins
// are to receive and tells them with a posted message, runs the world's
// timers (chatter, ESP answers, text deliveries) and drops plug-ins whose
// window is gone. Every call and callback goes to the log in the call log's
// format. It runs on a thread of its own, above normal priority, so that the
// window's drawing never holds up an answer; the world and the server are
// shared with the window's thread under Lock().
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "host_world.h"
#include "owned_win32.h"

namespace quib::vellhost {

class HostServer {
  public:
    // log: one line at a time ("hh:mm:ss.mmm > ..."); changed: the world or
    // its members changed (for the window to show it). Both are called on
    // the server's thread, under the lock.
    HostServer(HostWorld& world, std::function<void(const std::string&)> log,
               std::function<void()> changed);
    ~HostServer();
    HostServer(const HostServer&) = delete;
    HostServer& operator=(const HostServer&) = delete;

    // Starts the server's thread with the wire window. False when it cannot
    // be made, or another host runs in this session already. The destructor
    // stops the thread.
    bool Open();

    // Held while the world is read or changed from another thread.
    std::unique_lock<std::recursive_mutex> Lock() {
        return std::unique_lock<std::recursive_mutex>(mutex_);
    }
    // The host's user changes the settings: chatter restarts at its new
    // period. Takes the lock.
    void Adjust(int busyPercent, int deliveryDelayMs, int chatterMs);
    // The host's user plays an avatar (HostWorld::Say); false when refused.
    // Takes the lock.
    bool Say(const std::string& speaker, int mode, const std::string& to, const std::string& text);

  private:
    static LRESULT CALLBACK WireProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    // The server's thread: makes the window, tells opened, runs its loop.
    void Run(std::promise<bool>& opened);
    void RestartChatter();
    LRESULT Received(HWND from, const COPYDATASTRUCT& data);
    // Answers the message in progress: into the plug-in's answer area when
    // it fits, else as a message of its own. Returns what the message in
    // progress returns (host_wire.h).
    LRESULT Reply(HWND to, const standin::wire::Reply& reply);
    // Drops what waits for a plug-in, and its answer area.
    void Forget(MemberId id);
    // Queues the news of every view for its plug-in and wakes it.
    void SpreadNews(MemberId except);
    void Queue(MemberId to, standin::wire::Event event);
    void Schedule(int delayMs, std::function<void()> work);
    void Sweep();
    std::string Who(MemberId id) const;
    void Log(char mark, const std::string& text, MemberId who);

    std::recursive_mutex mutex_;
    std::thread thread_;
    DWORD threadId_ = 0;
    HostWorld& world_;
    std::function<void(const std::string&)> log_;
    std::function<void()> changed_;
    standin::OwnedWindow wire_;
    std::map<MemberId, std::deque<standin::wire::Event>> outbox_;
    std::map<MemberId, bool> woken_;
    // A plug-in's answer area, mapped (host_wire.h).
    struct Area {
        standin::OwnedHandle mapping;
        standin::OwnedView<char> view;
    };
    std::map<MemberId, Area> areas_;
    std::map<UINT_PTR, std::function<void()>> timers_;
    UINT_PTR nextTimer_ = 100;
};

}  // namespace quib::vellhost
