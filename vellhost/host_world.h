// The world of vellhost.exe, which any number of plug-ins join at once. Plain
// C++, tested on its own; the host's wire (host_server.h) puts the windows,
// timers and messages around it.
//
// Each joined plug-in has its user's view of the world: a World of its own
// (sim_world.h) with that user's registrations, busy answers and buffer. What
// is said in public (speech, thoughts, the simulated avatars' chatter, the
// lines the host's user plays) goes into every view in the order the host
// takes it; an ESP goes to its addressee's view only; the notices of a
// plug-in's own requests (registration, busy retries) stay in its view. The
// host's own view holds every line, private ones included.
//
// Registration belongs to the joined link: two plug-ins that register the same
// name are registered each on its own, and one unregistering leaves the other
// registered.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host_wire.h"
#include "sim_world.h"

namespace quib::vellhost {

using standin::ChatLine;
using standin::Config;
using standin::World;

// A joined plug-in, known by its library's wire window.
using MemberId = uint64_t;

struct Member {
    MemberId id = 0;
    std::string plugin;  // the name it joined with
    std::string user;    // its user's avatar name, unique in the world
    int calls = 0;
    std::string lastStatus;  // "" before the first status
    std::unique_ptr<World> view;
    // Lines its view gained before its call that are not the call's own:
    // they go with the news, not inside the call.
    std::vector<ChatLine> held;
};

class HostWorld {
  public:
    explicit HostWorld(Config config);

    // The settings every view follows; change them through Adjust.
    const Config& Settings() const { return config_; }
    void Adjust(int busyPercent, int deliveryDelayMs, int chatterMs);

    // A plug-in joins with the user name it asks for; returns the name given
    // (the one asked for, or with " 2", " 3" ... when another user has it,
    // "Visitor" when it is unusable).
    std::string Join(MemberId id, std::string_view plugin, std::string_view user);
    void Leave(MemberId id);
    const Member* Find(MemberId id) const;
    const std::vector<Member>& Members() const { return members_; }

    struct Answer {
        int32_t result = -1;
        std::optional<std::string> status;
        std::vector<ChatLine> lines;            // the caller's own, inside the call
        std::optional<std::string> text;        // a buffer to deliver later
        std::optional<standin::Pending> reply;  // an avatar's answer to an ESP
    };
    // A call of a joined plug-in; a stranger's call gets result -1, no status.
    Answer Call(MemberId id, const standin::wire::Request& request);

    // A simulated avatar's answer to a member's ESP, now that it is due.
    void Deliver(MemberId id, const ChatLine& line);
    // One simulated avatar says something to everyone.
    void Chatter();
    // The host's user plays any avatar: mode 0 speech, 1 thought, 2 ESP to the
    // user named to. False (and nothing said) for an unusable name or mode or
    // an empty text.
    bool Say(std::string_view speaker, int mode, std::string_view to, std::string_view text);

    // The lines each other view gained since the last call, per member.
    std::map<MemberId, std::vector<ChatLine>> TakeNews();
    // The host's own view: every line, oldest first.
    const World& HostView() const { return host_; }
    // The host's lines gained since the last call, for its window.
    std::vector<ChatLine> TakeHostLines() { return host_.TakeNewLines(); }

  private:
    Member* FindMember(MemberId id);
    // Adds a line to every view but the one of except (0: to all).
    void Broadcast(const ChatLine& line, MemberId except);
    void UpdateOthers();

    Config config_;
    World host_;
    std::vector<Member> members_;
    uint32_t joined_ = 0;
};

}  // namespace quib::vellhost
