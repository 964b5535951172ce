#include "sim_world.h"

#include <algorithm>
#include <charconv>
#include <utility>

#include "script.h"
#include "vellquib.h"

namespace quib::standin {

namespace {

constexpr std::string_view kSystem = "<system>";

// An integer setting within [low, high], or nothing.
std::optional<long long> ParseInt(const std::optional<std::string>& text, long long low,
                                  long long high) {
    if (!text || text->empty()) {
        return std::nullopt;
    }
    long long value = 0;
    const char* first = text->data();
    const char* last = first + text->size();
    const auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || end != last || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

// A name the avatar list reads as one speaker: not empty, at most 32 bytes,
// no control characters and no ": ".
bool UsableName(std::string_view name) {
    if (name.empty() || name.size() > 32 || name.find(": ") != std::string_view::npos ||
        name == kSystem) {
        return false;
    }
    return std::none_of(name.begin(), name.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

ChatLine Speech(std::string speaker, std::string text) {
    std::string line = speaker + ": " + text;
    return {LineKind::Speech, std::move(speaker), std::move(text), std::move(line)};
}

ChatLine SystemNotice(std::string text) {
    std::string line = std::string(kSystem) + ": " + text;
    return {LineKind::Notice, std::string(kSystem), std::move(text), std::move(line)};
}

struct Said {
    int avatar;  // index into World::Avatars()
    bool esp;    // a private message to the user
    const char* text;
};

// What the simulated avatars say now and then.
constexpr Said kChatter[] = {
    {0, false, "The fountain sounds louder when it rains, doesn't it?"},
    {1, false, "Anyone up for a walk to the lighthouse?"},
    {2, false, "I just finished a new painting for the gallery."},
    {3, false, "Tip of the day: ESP reaches an avatar anywhere in the world."},
    {0, false, "Edda, can I see the painting?"},
    {1, false, "The market stalls are open again."},
    {2, false, "Tobin, the lighthouse sounds lovely. After noon?"},
    {3, true, "Send me an ESP if you get lost, I know every path here."},
    {0, true, "Psst, the cafe on the pier has free cocoa today."},
    {1, false, "Who left a rowing boat on the beach?"},
    {2, false, "Sunset in ten minutes, best seen from the hill."},
    {3, false, "Welcome to everyone who just arrived!"},
};

// How the avatars answer an ESP, by avatar.
constexpr const char* kReplies[4][3] = {
    {"Hello there! Nice to hear from you.", "Thanks for the ESP! Meet me at the fountain.",
     "Oh, a private message! What's up?"},
    {"Hey! Got your message.", "Sure thing. See you at the market.",
     "Ha, you found me. I'm near the lighthouse."},
    {"Hi! I'm busy painting, but glad you wrote.", "Come by the gallery on the hill!",
     "Thank you, that made my day."},
    {"Happy to help. What do you need?", "Ask away, I know this world well.",
     "Got it. Try the plaza if you want company."},
};

}  // namespace

uint32_t Random::Next() {
    uint32_t x = state_;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    state_ = x;
    return x;
}

Config Config::FromEnvironment(const Lookup& lookup) {
    Config c;
    if (const auto v = ParseInt(lookup("VELLQUIB_SEED"), 0, 0xFFFFFFFFll)) {
        c.seed = static_cast<uint32_t>(*v);
    }
    if (const auto v = ParseInt(lookup("VELLQUIB_BUSY_PERCENT"), 0, 100)) {
        c.busyPercent = static_cast<int>(*v);
    }
    if (const auto v = ParseInt(lookup("VELLQUIB_DELIVERY_MS"), 0, 60000)) {
        c.deliveryDelayMs = static_cast<int>(*v);
    }
    if (const auto v = ParseInt(lookup("VELLQUIB_CHATTER_MS"), 0, 3600000)) {
        c.chatterMs = static_cast<int>(*v);
    }
    if (const auto v = ParseInt(lookup("VELLQUIB_ESP_REPLY_MS"), 0, 60000)) {
        c.espReplyMs = static_cast<int>(*v);
    }
    if (const auto v = ParseInt(lookup("VELLQUIB_INIT_RESULT"), -32768, 32767)) {
        c.initResult = static_cast<int>(*v);
    }
    if (const auto v = lookup("VELLQUIB_USER"); v && UsableName(*v)) {
        const bool taken = std::any_of(World::Avatars().begin(), World::Avatars().end(),
                                       [&](const std::string& a) { return Lower(a) == Lower(*v); });
        if (!taken) {
            c.userName = *v;
        }
    }
    return c;
}

std::string OneLine(std::string_view text) {
    std::string out(text.substr(0, kMaxMessageBytes));
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20) {
            c = ' ';
        }
    }
    return out;
}

const std::vector<std::string>& World::Avatars() {
    static const std::vector<std::string> names = {"Marisol", "Tobin", "Edda", "Quill"};
    return names;
}

World::World(Config config)
    : config_(std::move(config)),
      busy_(config_.seed),
      chatter_(config_.seed ^ 0x5A5A5A5Au),
      replies_(config_.seed ^ 0xA5A5A5A5u) {
    // The conversation a user finds on arrival.
    const auto& a = Avatars();
    AddLine(SystemNotice("Welcome to Vell. You are here as " + config_.userName + "."));
    AddLine(Speech(a[0], "Morning, everyone! The fountain in the plaza works again."));
    AddLine(Speech(a[1], "About time. I missed the splashing."));
    AddLine(Speech(a[2], "Has anyone seen the new gallery on the hill?"));
    AddLine(Speech(a[0], "Not yet. Is it open?"));
    AddLine(EspToUser(a[3], "Hi " + config_.userName + ", welcome! ESP me if you need help."));
    AddLine(Speech(a[1], "Edda, the gallery opens at noon, world time."));
    AddLine(Speech(a[3], "Hello, plaza!"));
    fresh_.clear();
}

bool World::Register(std::string_view plugin) {
    if (plugin.empty() || !registered_.emplace(plugin).second) {
        return false;
    }
    Notice("Plug-in " + std::string(plugin) + " registered.");
    return true;
}

bool World::Unregister(std::string_view plugin) {
    const auto it = registered_.find(plugin);
    if (it == registered_.end()) {
        return false;
    }
    registered_.erase(it);
    busyRun_.erase(std::string(plugin));
    Notice("Plug-in " + std::string(plugin) + " unregistered.");
    return true;
}

bool World::IsRegistered(std::string_view plugin) const {
    return registered_.find(plugin) != registered_.end();
}

std::string World::Admit(std::string_view plugin, std::string_view request) {
    if (!IsRegistered(plugin)) {
        return std::string(kStatusNotRegistered);
    }
    int& run = busyRun_[std::string(plugin)];
    if (config_.busyPercent > 0 && busy_.Below(100) < static_cast<uint32_t>(config_.busyPercent)) {
        ++run;
        return std::string(kStatusBusy);
    }
    if (run > 0) {
        Notice("Host busy; " + std::string(request) + " of " + std::string(plugin) +
               " went through on try " + std::to_string(run + 1) + ".");
        run = 0;
    }
    return std::string(kStatusOk);
}

std::optional<std::string> World::AvatarNamed(std::string_view name) const {
    for (const std::string& a : Avatars()) {
        if (Lower(a) == Lower(name)) {
            return a;
        }
    }
    return std::nullopt;
}

World::CommunicateResult World::Communicate(std::string_view plugin, int16_t mode,
                                            std::string_view avatar, std::string_view message) {
    CommunicateResult result;
    const std::string text = OneLine(message);
    const std::string_view to = TrimBlanks(avatar);
    if (mode < VELLQUIB_MODE_SPEAK || mode > VELLQUIB_MODE_ESP || text.empty() ||
        (mode == VELLQUIB_MODE_ESP && !UsableName(to))) {
        result.status = std::string(kStatusRefused);
        return result;
    }
    static constexpr const char* kRequestNames[] = {"Speak", "Think", "ESP"};
    result.status = Admit(plugin, kRequestNames[mode]);
    if (result.status != kStatusOk) {
        return result;
    }
    const std::string& me = config_.userName;
    switch (mode) {
        case VELLQUIB_MODE_SPEAK:
            AddLine(Speech(me, text));
            break;
        case VELLQUIB_MODE_THINK: {
            // No ": " may stand in a thought, or the avatar list would take
            // the text before it for a speaker: the blanks after a colon go.
            std::string thought = text;
            for (size_t p = thought.find(": "); p != std::string::npos; p = thought.find(": ", p)) {
                thought.erase(p + 1, 1);
            }
            AddLine({LineKind::Thought, me, thought, me + " thinks . o O ( " + thought + " )"});
            break;
        }
        default: {
            const std::string name(to);
            AddLine({LineKind::EspFromUser, name, text, "ESP to " + name + ": " + text});
            if (const auto who = AvatarNamed(name)) {
                const size_t index = static_cast<size_t>(
                    std::find(Avatars().begin(), Avatars().end(), *who) - Avatars().begin());
                const char* answer = kReplies[index][replies_.Below(3)];
                result.reply = Pending{config_.espReplyMs, EspToUser(*who, answer)};
            } else if (Lower(name) == Lower(me)) {
                Notice("Your ESP to yourself arrived at once.");
            } else if (std::any_of(others_.begin(), others_.end(),
                                   [&](const std::string& o) { return Lower(o) == Lower(name); })) {
                // Another plug-in's user: the host delivers it there.
            } else {
                Notice("Nobody called " + name + " is here; the ESP went nowhere.");
            }
            break;
        }
    }
    return result;
}

std::string World::FramedBuffer() const {
    std::vector<std::string> lines;
    lines.reserve(lines_.size());
    for (const ChatLine& l : lines_) {
        lines.push_back(l.line);
    }
    return FramedText(lines);
}

void World::Chatter() {
    const Said& s = kChatter[chatter_.Below(static_cast<uint32_t>(std::size(kChatter)))];
    const std::string& who = Avatars()[static_cast<size_t>(s.avatar)];
    AddLine(s.esp ? EspToUser(who, s.text) : Speech(who, s.text));
}

void World::AddLine(ChatLine line) {
    fresh_.push_back(line);
    lines_.push_back(std::move(line));
    while (lines_.size() > kMaxLines) {
        lines_.pop_front();
    }
}

std::vector<ChatLine> World::TakeNewLines() {
    return std::exchange(fresh_, {});
}

ChatLine EspToUser(std::string speaker, std::string text) {
    std::string line = "ESP from " + speaker + ": " + text;
    return {LineKind::EspToUser, std::move(speaker), std::move(text), std::move(line)};
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && s.front() == ' ') {
        s.remove_prefix(1);
    }
    while (!s.empty() && s.back() == ' ') {
        s.remove_suffix(1);
    }
    return s;
}

bool UsableAvatarName(std::string_view name) {
    return UsableName(name);
}

bool SameAvatarName(std::string_view a, std::string_view b) {
    return Lower(a) == Lower(b);
}

void World::Notice(std::string text) {
    AddLine(SystemNotice(std::move(text)));
}

}  // namespace quib::standin
