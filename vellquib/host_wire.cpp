#include "host_wire.h"

#include <charconv>

namespace quib::standin::wire {

namespace {

// Every message is a row of fields, each a 4-byte length (least significant
// byte first) and that many bytes.
class Writer {
  public:
    Writer& Add(std::string_view field) {
        const auto n = static_cast<uint32_t>(field.size());
        for (int shift = 0; shift < 32; shift += 8) {
            bytes_.push_back(static_cast<char>((n >> shift) & 0xFF));
        }
        bytes_.append(field);
        return *this;
    }
    Writer& Add(long long number) { return Add(std::to_string(number)); }
    std::string Take() { return std::move(bytes_); }

  private:
    std::string bytes_;
};

class Reader {
  public:
    explicit Reader(std::string_view bytes) : rest_(bytes) {}
    std::optional<std::string_view> Field() {
        if (rest_.size() < 4) {
            return std::nullopt;
        }
        uint32_t n = 0;
        for (int i = 3; i >= 0; --i) {
            n = (n << 8) | static_cast<unsigned char>(rest_[static_cast<size_t>(i)]);
        }
        rest_.remove_prefix(4);
        if (n > rest_.size()) {
            return std::nullopt;
        }
        const std::string_view field = rest_.substr(0, n);
        rest_.remove_prefix(n);
        return field;
    }
    bool Text(std::string& out) {
        const auto f = Field();
        if (f) {
            out.assign(*f);
        }
        return f.has_value();
    }
    template <typename Int>
    bool Number(Int& out, long long low, long long high) {
        const auto f = Field();
        long long value = 0;
        if (!f || f->empty()) {
            return false;
        }
        const auto [end, ec] = std::from_chars(f->data(), f->data() + f->size(), value);
        if (ec != std::errc() || end != f->data() + f->size() || value < low || value > high) {
            return false;
        }
        out = static_cast<Int>(value);
        return true;
    }
    bool Done() const { return rest_.empty(); }

  private:
    std::string_view rest_;
};

}  // namespace

std::string Encode(const JoinRequest& join) {
    return Writer().Add(join.plugin).Add(join.user).Add(join.area).Take();
}

std::optional<JoinRequest> DecodeJoin(std::string_view bytes) {
    Reader r(bytes);
    JoinRequest join;
    if (!r.Text(join.plugin) || !r.Text(join.user) || !r.Text(join.area) || !r.Done()) {
        return std::nullopt;
    }
    return join;
}

std::string Encode(const Request& request) {
    return Writer()
        .Add(static_cast<long long>(request.what))
        .Add(request.plugin)
        .Add(static_cast<long long>(request.mode))
        .Add(request.avatar)
        .Add(request.message)
        .Add(request.command)
        .Take();
}

std::optional<Request> DecodeRequest(std::string_view bytes) {
    Reader r(bytes);
    Request q;
    if (!r.Number(q.what, 0, static_cast<long long>(kExportCount) - 1) || !r.Text(q.plugin) ||
        !r.Number(q.mode, INT16_MIN, INT16_MAX) || !r.Text(q.avatar) || !r.Text(q.message) ||
        !r.Text(q.command) || !r.Done()) {
        return std::nullopt;
    }
    return q;
}

std::string Encode(const Reply& reply) {
    Writer w;
    w.Add(reply.result)
        .Add(reply.user)
        .Add(reply.status ? "S" : "-")
        .Add(reply.status.value_or(""))
        .Add(reply.textDueMs);
    for (const Event& e : reply.events) {
        w.Add(std::string_view(reinterpret_cast<const char*>(&e.kind), 1))
            .Add(e.speaker)
            .Add(static_cast<long long>(e.number))
            .Add(e.bytes);
    }
    return w.Take();
}

std::optional<Reply> DecodeReply(std::string_view bytes) {
    Reader r(bytes);
    Reply reply;
    std::string hasStatus;
    std::string status;
    if (!r.Number(reply.result, INT32_MIN, INT32_MAX) || !r.Text(reply.user) ||
        !r.Text(hasStatus) || !r.Text(status) || !r.Number(reply.textDueMs, -1, INT32_MAX) ||
        (hasStatus != "S" && hasStatus != "-")) {
        return std::nullopt;
    }
    if (hasStatus == "S") {
        reply.status = std::move(status);
    }
    while (!r.Done()) {
        Event e;
        std::string kind;
        if (!r.Text(kind) || kind.size() != 1 || (kind[0] != 'M' && kind[0] != 'T') ||
            !r.Text(e.speaker) || !r.Number(e.number, INT16_MIN, INT16_MAX) || !r.Text(e.bytes)) {
            return std::nullopt;
        }
        e.kind = static_cast<Event::Kind>(kind[0]);
        reply.events.push_back(std::move(e));
    }
    return reply;
}

}  // namespace quib::standin::wire
