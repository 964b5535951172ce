#include "host_world.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace quib::vellhost {

namespace {

// The host's view of a private line: who wrote to whom.
ChatLine SeenByHost(std::string_view from, std::string_view to, std::string_view text) {
    return {standin::LineKind::EspToUser, std::string(from), std::string(text),
            "ESP from " + std::string(from) + " to " + std::string(to) + ": " + std::string(text)};
}

}  // namespace

HostWorld::HostWorld(Config config) : config_(std::move(config)), host_(config_) {
    host_.TakeNewLines();
}

void HostWorld::Adjust(int busyPercent, int deliveryDelayMs, int chatterMs) {
    config_.busyPercent = std::clamp(busyPercent, 0, 100);
    config_.deliveryDelayMs = std::clamp(deliveryDelayMs, 0, 60000);
    config_.chatterMs = std::clamp(chatterMs, 0, 3600000);
    for (Member& m : members_) {
        Config& c = m.view->LiveSettings();
        c.busyPercent = config_.busyPercent;
        c.deliveryDelayMs = config_.deliveryDelayMs;
        c.chatterMs = config_.chatterMs;
    }
}

std::string HostWorld::Join(MemberId id, std::string_view plugin, std::string_view user) {
    Leave(id);
    std::string base = standin::UsableAvatarName(user) ? std::string(user) : "Visitor";
    const auto taken = [&](std::string_view name) {
        const auto& avatars = World::Avatars();
        return std::any_of(
                   avatars.begin(), avatars.end(),
                   [&](const std::string& a) { return standin::SameAvatarName(a, name); }) ||
               std::any_of(members_.begin(), members_.end(),
                           [&](const Member& m) { return standin::SameAvatarName(m.user, name); });
    };
    if (taken(base)) {
        base = base.substr(0, 28);
    }
    std::string name = base;
    for (int n = 2; taken(name); ++n) {
        name = base + " " + std::to_string(n);
    }
    Config c = config_;
    c.userName = name;
    c.seed = config_.seed + 7919u * ++joined_;
    Member m;
    m.id = id;
    m.plugin = plugin;
    m.user = name;
    m.view = std::make_unique<World>(std::move(c));
    m.view->TakeNewLines();
    members_.push_back(std::move(m));
    host_.AddLine(
        standin::ChatLine{standin::LineKind::Notice, "<system>",
                          "Plug-in " + std::string(plugin) + " joined as " + name + ".",
                          "<system>: Plug-in " + std::string(plugin) + " joined as " + name + "."});
    UpdateOthers();
    return name;
}

void HostWorld::Leave(MemberId id) {
    const auto it =
        std::find_if(members_.begin(), members_.end(), [&](const Member& m) { return m.id == id; });
    if (it == members_.end()) {
        return;
    }
    const std::string text = "Plug-in " + it->plugin + " (" + it->user + ") left.";
    host_.AddLine({standin::LineKind::Notice, "<system>", text, "<system>: " + text});
    members_.erase(it);
    UpdateOthers();
}

const Member* HostWorld::Find(MemberId id) const {
    for (const Member& m : members_) {
        if (m.id == id) {
            return &m;
        }
    }
    return nullptr;
}

Member* HostWorld::FindMember(MemberId id) {
    return const_cast<Member*>(static_cast<const HostWorld*>(this)->Find(id));
}

void HostWorld::UpdateOthers() {
    for (Member& m : members_) {
        std::vector<std::string> others;
        for (const Member& o : members_) {
            if (o.id != m.id) {
                others.push_back(o.user);
            }
        }
        m.view->SetOtherUsers(std::move(others));
    }
}

void HostWorld::Broadcast(const ChatLine& line, MemberId except) {
    for (Member& m : members_) {
        if (m.id != except) {
            m.view->AddLine(line);
        }
    }
}

HostWorld::Answer HostWorld::Call(MemberId id, const standin::wire::Request& q) {
    Answer a;
    Member* m = FindMember(id);
    if (!m) {
        return a;
    }
    ++m->calls;
    World& view = *m->view;
    {
        std::vector<ChatLine> earlier = view.TakeNewLines();
        m->held.insert(m->held.end(), earlier.begin(), earlier.end());
    }
    switch (q.what) {
        case standin::Export::QuibRegister:
            a.result = view.Register(q.plugin) ? 0 : 1;
            break;
        case standin::Export::QuibUnregister:
            a.result = view.Unregister(q.plugin) ? 0 : 1;
            break;
        case standin::Export::QuibGetAllText:
            a.status = view.Admit(q.plugin, "Get all text");
            if (*a.status == standin::kStatusOk) {
                a.text = view.FramedBuffer();
            }
            break;
        case standin::Export::QuibSend:
            a.status = view.Admit(q.plugin, "Send");
            break;
        case standin::Export::QuibCommunicate: {
            World::CommunicateResult r = view.Communicate(q.plugin, q.mode, q.avatar, q.message);
            a.status = std::move(r.status);
            a.reply = std::move(r.reply);
            if (*a.status != standin::kStatusOk) {
                break;
            }
            const std::vector<ChatLine> own = view.TakeNewLines();
            for (const ChatLine& l : own) {
                if (q.mode == 2 && l.kind == standin::LineKind::EspFromUser) {
                    const std::string_view to = standin::TrimBlanks(q.avatar);
                    host_.AddLine(SeenByHost(m->user, to, l.text));
                    for (Member& o : members_) {
                        if (o.id != id && standin::SameAvatarName(o.user, to)) {
                            o.view->AddLine(
                                standin::EspToUser(std::string(m->user), std::string(l.text)));
                        }
                    }
                } else if (l.kind == standin::LineKind::Speech ||
                           l.kind == standin::LineKind::Thought) {
                    host_.AddLine(l);
                    Broadcast(l, id);
                }
            }
            a.lines = own;
            break;
        }
        case standin::Export::InitDDE:
        case standin::Export::KillDDE:
        case standin::Export::IsVellThere:
            break;
    }
    if (a.status) {
        a.result = static_cast<int32_t>(std::strtol(a.status->c_str(), nullptr, 10));
        m->lastStatus = *a.status;
    }
    std::vector<ChatLine> rest = view.TakeNewLines();
    a.lines.insert(a.lines.end(), rest.begin(), rest.end());
    return a;
}

void HostWorld::Deliver(MemberId id, const ChatLine& line) {
    if (Member* m = FindMember(id)) {
        m->view->AddLine(line);
        host_.AddLine(SeenByHost(line.speaker, m->user, line.text));
    }
}

void HostWorld::Chatter() {
    host_.Chatter();
    Broadcast(host_.Lines().back(), 0);
}

bool HostWorld::Say(std::string_view speaker, int mode, std::string_view to,
                    std::string_view text) {
    const std::string said = standin::OneLine(text);
    const std::string who(standin::TrimBlanks(speaker));
    if (!standin::UsableAvatarName(who) || said.empty() || mode < 0 || mode > 2) {
        return false;
    }
    switch (mode) {
        case 0: {
            const ChatLine l{standin::LineKind::Speech, who, said, who + ": " + said};
            host_.AddLine(l);
            Broadcast(l, 0);
            break;
        }
        case 1: {
            std::string thought = said;
            for (size_t p = thought.find(": "); p != std::string::npos; p = thought.find(": ", p)) {
                thought.erase(p + 1, 1);
            }
            const ChatLine l{standin::LineKind::Thought, who, thought,
                             who + " thinks . o O ( " + thought + " )"};
            host_.AddLine(l);
            Broadcast(l, 0);
            break;
        }
        default: {
            const std::string_view addressee = standin::TrimBlanks(to);
            bool found = false;
            for (Member& m : members_) {
                if (standin::SameAvatarName(m.user, addressee)) {
                    m.view->AddLine(standin::EspToUser(std::string(who), std::string(said)));
                    found = true;
                }
            }
            if (!found) {
                return false;
            }
            host_.AddLine(SeenByHost(who, addressee, said));
            break;
        }
    }
    return true;
}

std::map<MemberId, std::vector<ChatLine>> HostWorld::TakeNews() {
    std::map<MemberId, std::vector<ChatLine>> news;
    for (Member& m : members_) {
        std::vector<ChatLine> lines = std::exchange(m.held, {});
        std::vector<ChatLine> fresh = m.view->TakeNewLines();
        lines.insert(lines.end(), fresh.begin(), fresh.end());
        if (!lines.empty()) {
            news.emplace(m.id, std::move(lines));
        }
    }
    return news;
}

}  // namespace quib::vellhost
