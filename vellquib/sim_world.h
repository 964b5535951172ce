// The simulated chat world behind the stand-in host library: the text buffer,
// the simulated avatars, plug-in registration and the statuses that requests
// are answered with. Plain C++ without any Windows call, so that it can be
// tested on its own; the stand-in's world answerer (answerer.h) puts the
// library's link, its timers and its callbacks around it.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "vellquib.h"

namespace quib::standin {

// Settings of one world. Every value has a default; FromEnvironment reads
// the documented environment variables over them.
struct Config {
    uint32_t seed = 1;
    int busyPercent = 20;       // chance, per request, of the answer "6"
    int deliveryDelayMs = 150;  // from QuibGetAllText to the text delivery
    int chatterMs = 4000;       // a simulated avatar speaks this often; 0 = never
    int espReplyMs = 800;       // an avatar answers an ESP after this long
    int initResult = 0;         // what InitDDE returns; not 0 = refuse the link
    std::string userName = "Visitor";

    // getenv-like lookup: the value of a variable, or nullopt when unset.
    using Lookup = std::function<std::optional<std::string>(const char* name)>;
    // Unset, malformed or out-of-range values keep the default.
    static Config FromEnvironment(const Lookup& lookup);
};

// The number MessageCallback carries with each new line of the world.
enum class LineKind : int16_t {
    Speech = 1,       // "Name: text"
    Thought = 2,      // "Name thinks . o O ( text )"
    EspToUser = 3,    // "ESP from Name: text", a private message to the user
    EspFromUser = 4,  // "ESP to Name: text", the user's private message
    Notice = 5,       // "<system>: text"
};

struct ChatLine {
    LineKind kind;
    std::string speaker;  // avatar name; "<system>" for a notice
    std::string text;     // what was said, without the line's form
    std::string line;     // the whole line as it stands in the buffer
};

// A line that the world will add later, when its delay has passed.
struct Pending {
    int delayMs;
    ChatLine line;
};

inline constexpr std::string_view kStatusRefused = VELLQUIB_STATUS_REFUSED;
inline constexpr std::string_view kStatusOk = VELLQUIB_STATUS_OK;
inline constexpr std::string_view kStatusBusy = VELLQUIB_STATUS_BUSY;
inline constexpr std::string_view kStatusNotRegistered = VELLQUIB_STATUS_NOT_REGISTERED;

// Lines the buffer keeps (the oldest go first), and the longest message a
// line takes, in bytes. Together they bound the buffer to about 210 KB; it
// is not kept below 32767 characters, so a fetch may bring more than a
// 16-bit count can hold.
inline constexpr size_t kMaxLines = 200;
inline constexpr size_t kMaxMessageBytes = 1000;

// A small deterministic random source (xorshift32): the same seed gives the
// same sequence on every machine and compiler.
class Random {
  public:
    explicit Random(uint32_t seed) : state_(seed ? seed : 0x9E3779B9u) {}
    uint32_t Next();
    // 0 .. n-1; n must be positive.
    uint32_t Below(uint32_t n) { return Next() % n; }

  private:
    uint32_t state_;
};

class World {
  public:
    explicit World(Config config);

    const Config& Settings() const { return config_; }
    // The settings a running host changes (busy share, delays, chatter).
    Config& LiveSettings() { return config_; }

    // Users of other plug-ins in the same world (vellhost.exe): an ESP to
    // one of them is carried there by the host, so it gains no notice here.
    void SetOtherUsers(std::vector<std::string> names) { others_ = std::move(names); }

    // --- Registration, per plug-in name (exact bytes) ---
    // True when the registration changed.
    bool Register(std::string_view plugin);
    bool Unregister(std::string_view plugin);
    bool IsRegistered(std::string_view plugin) const;

    // --- Requests ---
    // The status of a request by a plug-in: "10" unregistered, now and then
    // "6" busy, otherwise "0". A request that goes through after busy answers
    // leaves a notice that says how many tries it took.
    std::string Admit(std::string_view plugin, std::string_view request);

    struct CommunicateResult {
        std::string status;
        std::optional<Pending> reply;  // the answer to an ESP, to add later
    };
    // Mode 0 speech, 1 thought, 2 ESP to the avatar. Unusable arguments
    // (another mode, an empty message, an ESP without a usable name) are
    // answered "-1" before registration and business are looked at.
    CommunicateResult Communicate(std::string_view plugin, int16_t mode, std::string_view avatar,
                                  std::string_view message);

    // The whole buffer as QuibGetAllText delivers it: the lines, each ended
    // by CR LF, then four characters (the number of lines, four digits) and a
    // NUL, which the length includes.
    std::string FramedBuffer() const;

    // --- Life of the world ---
    // One simulated avatar says something (the chatter timer).
    void Chatter();
    // Adds a line now (a due ESP answer, for instance).
    void AddLine(ChatLine line);

    const std::deque<ChatLine>& Lines() const { return lines_; }
    // The lines added since the last call, oldest first, for the notices
    // that MessageCallback carries.
    std::vector<ChatLine> TakeNewLines();

    // The names of the simulated avatars, in the order they first speak.
    static const std::vector<std::string>& Avatars();

  private:
    void Notice(std::string text);
    std::optional<std::string> AvatarNamed(std::string_view name) const;

    Config config_;
    Random busy_;
    Random chatter_;
    Random replies_;
    std::set<std::string, std::less<>> registered_;
    std::map<std::string, int, std::less<>> busyRun_;  // busy answers in a row
    std::deque<ChatLine> lines_;
    std::vector<ChatLine> fresh_;
    std::vector<std::string> others_;
};

// Makes a user's text fit on one line: control characters (CR and LF among
// them) become blanks, and it is cut to kMaxMessageBytes.
std::string OneLine(std::string_view text);

// A private line to the user: "ESP from Speaker: text".
ChatLine EspToUser(std::string speaker, std::string text);

// The text without the blanks around it.
std::string_view TrimBlanks(std::string_view s);

// Whether a name can stand for an avatar: not empty, at most 32 bytes, no
// control characters, no ": ", not "<system>".
bool UsableAvatarName(std::string_view name);
// Names compared as the world compares avatars: ASCII letters in any case.
bool SameAvatarName(std::string_view a, std::string_view b);

}  // namespace quib::standin
