#include <string>
#include <utility>
#include <vector>

#include "answerer.h"
#include "process_log.h"

namespace quib::standin {

WorldAnswerer::WorldAnswerer(PluginLink& link, Config config)
    : Answerer(link), world_(std::move(config)) {}

void WorldAnswerer::Opened() {
    const Config& c = world_.Settings();
    LogNote("link open; simulated world, seed " + std::to_string(c.seed) + ", busy " +
            std::to_string(c.busyPercent) + "%");
    if (c.chatterMs > 0) {
        link_.Every(c.chatterMs, [this] {
            world_.Chatter();
            FlushNotices();
        });
    }
}

bool WorldAnswerer::FlushNotices() {
    for (;;) {
        const std::vector<ChatLine> lines = world_.TakeNewLines();
        if (lines.empty()) {
            return true;
        }
        for (const ChatLine& l : lines) {
            if (!link_.Message(l.speaker, static_cast<int16_t>(l.kind), l.text)) {
                return false;
            }
        }
    }
}

int32_t WorldAnswerer::Answer(const Call& call) {
    if (IsRequest(call.what) && link_.Stuck()) {
        return Report(kStatusBusy);
    }
    switch (call.what) {
        case Export::QuibRegister:
        case Export::QuibUnregister: {
            const bool changed = call.what == Export::QuibRegister ? world_.Register(call.plugin)
                                                                   : world_.Unregister(call.plugin);
            FlushNotices();
            return changed ? 0 : 1;
        }
        case Export::QuibCommunicate:
            return Communicate(call);
        case Export::QuibGetAllText:
            return GetAllText(call);
        case Export::QuibSend:
            // The simulated host understands no commands: a registered
            // plug-in's command is accepted and has no effect.
            return Report(world_.Admit(call.plugin, "Send"));
        case Export::InitDDE:
            break;
    }
    return -1;
}

int32_t WorldAnswerer::Communicate(const Call& call) {
    World::CommunicateResult r =
        world_.Communicate(call.plugin, call.mode, call.avatar, call.message);
    if (r.reply) {
        link_.Schedule(r.reply->delayMs, [this, line = std::move(r.reply->line)] {
            world_.AddLine(line);
            FlushNotices();
        });
    }
    return Report(r.status);
}

int32_t WorldAnswerer::GetAllText(const Call& call) {
    const std::string status = world_.Admit(call.plugin, "Get all text");
    if (status == kStatusOk) {
        // The buffer as it stands now, notices of this request included;
        // it arrives later, from the link's window.
        link_.Schedule(
            world_.Settings().deliveryDelayMs,
            [this, framed = world_.FramedBuffer()] { link_.Text(framed); }, true);
    }
    return Report(status);
}

}  // namespace quib::standin
