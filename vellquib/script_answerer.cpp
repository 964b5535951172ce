#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "answerer.h"
#include "process_log.h"

namespace quib::standin {

namespace {

void Overwrite(char* buffer, size_t size, const std::string& bytes) {
    const size_t n = std::min(size, bytes.size() + 1);  // the string and its NUL
    std::memcpy(buffer, bytes.c_str(), n);
}

}  // namespace

ScriptAnswerer::ScriptAnswerer(PluginLink& link, Script& script, std::string path,
                               const ScriptAnswer* initAnswer)
    : Answerer(link), script_(script), path_(std::move(path)), initAnswer_(initAnswer) {}

void ScriptAnswerer::Opened() {
    LogNote("link open; answers from the script " + path_);
    if (initAnswer_) {
        RunEvents(*initAnswer_, nullptr);
    }
}

// Runs the events of an answer: those for now at once, the others scheduled
// on the link. Each buffer takes as many bytes as it held when the call came,
// its NUL included.
bool ScriptAnswerer::RunEvents(const ScriptAnswer& answer, const Call* call) {
    using Kind = ScriptEvent::Kind;
    const size_t avatarSize = call && call->avatar ? std::strlen(call->avatar) + 1 : 0;
    const size_t messageSize = call && call->message ? std::strlen(call->message) + 1 : 0;
    for (const ScriptEvent& ev : answer.events) {
        if (ev.kind == Kind::WriteAvatar) {
            Overwrite(call->avatar, avatarSize, ev.bytes);
            continue;
        }
        if (ev.kind == Kind::WriteMessage) {
            Overwrite(call->message, messageSize, ev.bytes);
            continue;
        }
        if (ev.when == When::Now) {
            const bool open = ev.kind == Kind::Text ? link_.Text(ev.bytes)
                                                    : link_.Message(ev.bytes, ev.number, ev.said);
            if (!open) {
                return false;
            }
            continue;
        }
        const int delayMs = ev.when == When::After ? ev.delayMs : 0;
        if (ev.kind == Kind::Text) {
            link_.Schedule(
                delayMs, [this, ev] { link_.Text(ev.bytes); }, true);
        } else {
            link_.Schedule(delayMs, [this, ev] { link_.Message(ev.bytes, ev.number, ev.said); });
        }
    }
    return true;
}

// Answers a call from the script: its events, then its status (if any).
int32_t ScriptAnswerer::Answer(const Call& call) {
    if (IsRequest(call.what) && link_.Stuck()) {
        return Report(kStatusBusy);
    }
    const ScriptAnswer* answer = script_.Next(call.what);
    if (!answer) {
        if (!IsRequest(call.what)) {
            return 0;
        }
        LogNote(std::string("script: no answer left for ") + ExportName(call.what) +
                ", so it reports \"" VELLQUIB_STATUS_REFUSED "\"");
        return Refuse();
    }
    const bool open = RunEvents(*answer, &call);
    if (!answer->status) {
        return 0;
    }
    return open ? Report(*answer->status) : StatusNumber(*answer->status);
}

}  // namespace quib::standin
