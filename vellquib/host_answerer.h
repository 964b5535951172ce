// Joining a running vellhost.exe: the answerer that forwards each call of the
// open link to the host program across processes (host_wire.h) and makes the
// callbacks the host sends back, on the link's thread: the status of a request
// and the lines it caused inside the call, everything else (lines of other
// plug-ins and avatars, text deliveries) while the plug-in dispatches its
// messages.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "answerer.h"
#include "host_wire.h"
#include "owned_win32.h"

namespace quib::standin {

// What VELLQUIB_HOST asks for: join a running host when there is one (the
// default), never join ("none"), or join or fail ("required").
enum class HostChoice { WhenRunning, Never, Required };
HostChoice ChosenHost();

// Joins the running host of this session. nullptr when none runs or it does
// not take the plug-in within the bound.
std::unique_ptr<Answerer> JoinRunningHost(PluginLink& link, const std::string& plugin,
                                          const Config& config);

class HostAnswerer final : public Answerer {
  public:
    HostAnswerer(PluginLink& link, HWND host);
    // Leaves the host (a posted message: it never waits).
    ~HostAnswerer() override;

    // Makes the wire window and joins; false when either fails.
    bool Join(const std::string& plugin, const std::string& user);
    void Opened() override;
    int32_t Answer(const Call& call) override;
    bool HostThere() const override { return !gone_ && IsWindow(host_); }

  private:
    static LRESULT CALLBACK WireProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    // Sends one message to the host and waits, within the bound, for its
    // answer. nullopt when the host is gone, hung or answered nonsense; the
    // link then takes the host for gone and asks it nothing more.
    std::optional<wire::Reply> Exchange(wire::Op op, const std::string& payload);
    // Makes the callbacks of the events; false when one closed the link.
    bool Deliver(const std::vector<wire::Event>& events);
    bool BeforeStatus() override { return Deliver(std::exchange(inCall_, {})); }
    void Drain();

    HWND host_;
    OwnedWindow wire_;
    // The area the host writes its answers into (host_wire.h).
    OwnedHandle area_;
    OwnedView<char> areaView_;
    bool gone_ = false;
    std::optional<std::string> reply_;  // the host's answer, while waiting for it
    std::vector<wire::Event> inCall_;   // the events of the request in progress
};

}  // namespace quib::standin
