#include "recorder.h"

#include <algorithm>
#include <cmath>

namespace quib::tracer {

namespace {

using standin::Export;
using standin::Quoted;

// The longest "after" a script takes.
constexpr long long kMaxAfterMs = 600000;

// The bytes a buffer holds now, as a write event gives them: all of them,
// less a last NUL, which the event writes itself.
std::string WrittenBytes(const Recorder::Buffer& b) {
    std::string bytes(b.data, b.size);
    if (!bytes.empty() && bytes.back() == '\0') {
        bytes.pop_back();
    }
    return bytes;
}

// The arguments of a call-log invocation: "f(a, b)" gives "(a, b)".
std::string_view Arguments(std::string_view invocation) {
    const size_t open = invocation.find('(');
    return open == std::string_view::npos ? invocation : invocation.substr(open);
}

}  // namespace

std::string StatusWord(std::string_view status) {
    const bool plain =
        !status.empty() && status != "-" && std::all_of(status.begin(), status.end(), [](char c) {
            return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                   c == '-' || c == '+' || c == '_' || c == '.';
        });
    return plain ? std::string(status) : Quoted(status);
}

std::string TextEvent(std::string_view when, std::string_view bytes) {
    // Framed: lines ended by CR LF, four digits, a NUL. Splitting at CR LF and
    // framing the lines again gives the same bytes exactly when it is.
    if (bytes.size() >= 5) {
        std::vector<std::string> lines;
        const std::string_view body = bytes.substr(0, bytes.size() - 5);
        size_t pos = 0;
        for (size_t end; (end = body.find("\r\n", pos)) != std::string_view::npos; pos = end + 2) {
            lines.emplace_back(body.substr(pos, end - pos));
        }
        if (pos == body.size() && standin::FramedText(lines) == bytes) {
            std::string out = "text " + std::string(when);
            for (const std::string& l : lines) {
                out += ' ';
                out += Quoted(l);
            }
            return out;
        }
    }
    return "raw " + std::string(when) + " " + Quoted(bytes);
}

bool Recorder::Open(const std::string& path, std::string_view header) {
    const std::lock_guard<std::mutex> lock(mutex_);
    file_.reset();
    file_.reset(std::fopen(path.c_str(), "wb"));
    if (file_) {
        Write(std::string(header));
    }
    return file_ != nullptr;
}

void Recorder::Write(const std::string& text) {
    if (file_ && !text.empty()) {
        std::fwrite(text.data(), 1, text.size(), file_.get());
        std::fflush(file_.get());
    }
}

void Recorder::Begin(Export e, Call how, std::string invocation, Buffer avatar, Buffer message) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!file_) {
        return;
    }
    Entry entry;
    entry.e = e;
    entry.how = how;
    entry.invocation = std::move(invocation);
    entry.buffers[0] = avatar;
    entry.buffers[1] = message;
    for (int i = 0; i < 2; ++i) {
        if (entry.buffers[i].data) {
            entry.seen[i].assign(entry.buffers[i].data, entry.buffers[i].size);
        }
    }
    pending_.push_back(std::move(entry));
    running_.push_back(pending_.size() - 1);
}

void Recorder::NoteWrites(Entry& entry) {
    for (int i = 0; i < 2; ++i) {
        const Buffer& b = entry.buffers[i];
        if (b.data && std::string_view(b.data, b.size) != entry.seen[i]) {
            entry.seen[i].assign(b.data, b.size);
            entry.items.push_back(Item{i == 0 ? Item::Kind::WriteAvatar : Item::Kind::WriteMessage,
                                       WrittenBytes(b),
                                       0,
                                       {}});
        }
    }
}

void Recorder::End(int32_t result, double ms) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!file_ || running_.empty()) {
        return;
    }
    Entry& entry = pending_[running_.back()];
    running_.pop_back();
    NoteWrites(entry);
    entry.result = result;
    entry.ended = true;
    if (entry.how == Call::Closing ||
        (entry.e == Export::InitDDE && result != 0 && entry.how == Call::Answered)) {
        attachable_ = false;
    } else if (entry.how == Call::Answered) {
        attachable_ = true;
        lastEndMs_ = ms;
    }
    Flush();
}

void Recorder::Callback(Item item, double ms) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!file_) {
        return;
    }
    if (running_.empty()) {
        Write(Later(item, ms));
        return;
    }
    Entry& entry = pending_[running_.back()];
    NoteWrites(entry);
    entry.items.push_back(std::move(item));
}

void Recorder::Status(std::string_view status, double ms) {
    Callback(Item{Item::Kind::Status, std::string(status), 0, {}}, ms);
}

void Recorder::Message(std::string_view speaker, int16_t kind, std::string_view said, double ms) {
    Callback(Item{Item::Kind::Message, std::string(speaker), kind, std::string(said)}, ms);
}

void Recorder::Text(std::string_view buffer, double ms) {
    Callback(Item{Item::Kind::Text, std::string(buffer), 0, {}}, ms);
}

void Recorder::Comment(std::string_view text) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!file_) {
        return;
    }
    Entry entry;
    entry.how = Call::Comment;
    entry.comment = "# " + std::string(text) + "\n";
    entry.ended = true;
    pending_.push_back(std::move(entry));
    Flush();
}

void Recorder::Flush() {
    if (!running_.empty()) {
        return;
    }
    std::string text;
    for (const Entry& entry : pending_) {
        text += Lines(entry);
    }
    pending_.clear();
    Write(text);
}

namespace {

// An event below a call line, without its indentation; when is "now" or
// "after N". Statuses are no events of a script: nullopt.
template <typename Item>
std::optional<std::string> EventText(const Item& item, std::string_view when) {
    switch (item.kind) {
        case Item::Kind::Status:
            return std::nullopt;
        case Item::Kind::Message:
            return "message " + std::string(when) + " " + Quoted(item.bytes) + " " +
                   std::to_string(item.number) + " " + Quoted(item.said);
        case Item::Kind::Text:
            return TextEvent(when, item.bytes);
        case Item::Kind::WriteAvatar:
            return "write avatar " + Quoted(item.bytes);
        case Item::Kind::WriteMessage:
            return "write message " + Quoted(item.bytes);
    }
    return std::nullopt;
}

}  // namespace

std::string Recorder::Lines(const Entry& entry) const {
    if (!entry.comment.empty()) {
        return entry.comment;
    }
    const std::string name = standin::ExportName(entry.e);
    if (entry.how != Call::Answered) {
        // What the host did, for the reader; the stand-in answers such a call
        // by itself.
        std::string out = "# " + entry.invocation + " returned " + std::to_string(entry.result) +
                          "; not replayed\n";
        for (const Item& item : entry.items) {
            const auto event = EventText(item, "now");
            out += "#   " + (event ? *event : "status " + StatusWord(item.bytes)) + "\n";
        }
        return out;
    }
    // The status of the call line: the one status of the call when it came
    // after every other callback, as a script reports it.
    size_t statusAt = entry.items.size();
    size_t statuses = 0;
    size_t lastCallback = entry.items.size();
    for (size_t i = 0; i < entry.items.size(); ++i) {
        const Item::Kind k = entry.items[i].kind;
        if (k == Item::Kind::Status) {
            ++statuses;
            statusAt = i;
        }
        if (k == Item::Kind::Status || k == Item::Kind::Message || k == Item::Kind::Text) {
            lastCallback = i;
        }
    }
    const bool lineStatus = entry.e != Export::InitDDE && statuses == 1 && statusAt == lastCallback;
    std::string out = name;
    if (entry.e == Export::InitDDE) {
        out += " " + std::to_string(entry.result);
    } else if (lineStatus) {
        out += " " + StatusWord(entry.items[statusAt].bytes);
    } else if (IsRequest(entry.e) || statuses > 0) {
        out += " -";
    }
    out += "  # " + std::string(Arguments(entry.invocation)) + "\n";
    for (size_t i = 0; i < entry.items.size(); ++i) {
        const Item& item = entry.items[i];
        if (item.kind == Item::Kind::Status) {
            if (!lineStatus) {
                out += "  # status " + StatusWord(item.bytes) +
                       " came here; a script reports one status, last\n";
            }
            continue;
        }
        out += "  " + *EventText(item, "now") + "\n";
    }
    return out;
}

std::string Recorder::Later(const Item& item, double ms) const {
    const auto event = EventText(item, "");
    if (!event || !attachable_) {
        return "# from the message loop, not replayed: " +
               (event ? *event : "status " + StatusWord(item.bytes)) + "\n";
    }
    const long long delay = std::llround(std::max(0.0, ms - lastEndMs_));
    std::string out;
    if (delay > kMaxAfterMs) {
        out = "  # came " + std::to_string(delay) + " ms after the call; a script waits at most " +
              std::to_string(kMaxAfterMs) + "\n";
    }
    // EventText put the timing between the word and its arguments.
    const std::string when = "after " + std::to_string(std::min(delay, kMaxAfterMs));
    return out + "  " + *EventText(item, when) + "\n";
}

}  // namespace quib::tracer
