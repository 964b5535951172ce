// The messages between the stand-in library, in a plug-in's process, and the
// simulated host program vellhost.exe. The library finds the host's wire
// window by its class and sends it WM_COPYDATA; the host answers each
// request with one WM_COPYDATA back to the library's wire window while the
// request is still waiting, and tells a joined library that news waits for
// it with a posted message, upon which the library asks for it (Drain).
// Nothing in this file is Windows: it only turns requests and answers into
// bytes and back, every byte of every string kept (NULs, 8-bit text).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "script.h"

namespace quib::standin::wire {

// The class of the host's wire window, the one window a library looks for.
inline constexpr wchar_t kHostWindowClass[] = L"VellHost.Wire";
// How long a library waits for the host to take and answer one message, in
// ms. A host that is hung or gone costs a request no more than this.
inline constexpr unsigned kBoundMs = 2000;

// What a WM_COPYDATA carries (its dwData).
enum class Op : uint32_t {
    Join = 1,   // library -> host: JoinRequest
    Call = 2,   // library -> host: Request
    Drain = 3,  // library -> host: no payload; give me what waits for me
    Reply = 4,  // host -> library: Reply, the answer to the message in progress
};
// Posted messages (no payload): the host's "news waits" to a library, and a
// library's "I leave" to the host (wParam: the library's wire window).
inline constexpr unsigned kWakeMessage = 0x8000 + 0x51;  // WM_APP + 0x51
inline constexpr unsigned kLeaveMessage = 0x8000 + 0x52;

// A library offers the host a shared memory area (a named file mapping of
// this size) for its answers: an answer that fits is written there, and the
// host's WM_COPYDATA returns 2 + its length instead of sending it back as a
// message of its own (then it returns 1). That saves a message per call.
inline constexpr size_t kReplyAreaBytes = 64 * 1024;

struct JoinRequest {
    std::string plugin;  // InitDDE's plug-in name
    std::string user;    // the user's avatar name the library asks for
    std::string area;    // the name of its answer area; empty: none
};

// One call of a plug-in, its pointers already checked by the library.
struct Request {
    Export what = Export::QuibRegister;
    std::string plugin;
    int16_t mode = 0;
    std::string avatar;
    std::string message;
    std::string command;
};

// A callback for the plug-in: a line of the world, or a text delivery.
struct Event {
    enum class Kind : char { Message = 'M', Text = 'T' };
    Kind kind = Kind::Message;
    std::string speaker;  // Message
    int16_t number = 0;   // Message: the line's kind
    std::string bytes;    // Message: what was said; Text: the whole buffer
};

struct Reply {
    int32_t result = 0;
    std::optional<std::string> status;  // a request's status
    std::vector<Event> events;          // in order, before the status
    std::string user;                   // Join: the avatar name given
    // A request answered with a text delivery: it is due this many ms after
    // the answer (-1: none is coming).
    int32_t textDueMs = -1;
};

std::string Encode(const JoinRequest& join);
std::string Encode(const Request& request);
std::string Encode(const Reply& reply);
// nullopt when the bytes are not a well-formed message of that kind.
std::optional<JoinRequest> DecodeJoin(std::string_view bytes);
std::optional<Request> DecodeRequest(std::string_view bytes);
std::optional<Reply> DecodeReply(std::string_view bytes);

}  // namespace quib::standin::wire
