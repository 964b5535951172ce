#include "text/avatar_list.h"

#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/error.h"
#include "platform/find.h"
#include "platform/lowercase.h"

namespace quib::text {

namespace {

constexpr std::u16string_view kLineEnd = u"\r\n";
constexpr std::u16string_view kEspTo = u"ESP to";
constexpr std::u16string_view kEspFrom = u"ESP from";
constexpr std::u16string_view kSpeakerEnd = u": ";
constexpr std::u16string_view kSystem = u"<system>";

// Drops an "ESP to" or "ESP from" prefix together with the one character
// after it, whatever that character is.
std::u16string_view WithoutEspPrefix(std::u16string_view line) {
    size_t skip = 0;
    if (line.starts_with(kEspTo)) {
        skip = kEspTo.size() + 1;
    } else if (line.starts_with(kEspFrom)) {
        skip = kEspFrom.size() + 1;
    } else {
        return line;
    }
    return skip < line.size() ? line.substr(skip) : std::u16string_view();
}

// The lower-cased names that one scan has added to the list. Open addressing
// over a power-of-two table that is at most half full; the names themselves
// lie one after another in one buffer, so a look-up touches one slot and one
// name, where a node-based set would chase three pointers.
class NameSet {
  public:
    // Adds the name unless it is present; true when it was added. A name is a
    // speaker, shorter than 32767 characters (the 16-bit limit of the ": "
    // position is checked before).
    bool Insert(std::u16string_view name) {
        if ((count_ + 1) * 2 > slots_.size()) {
            Grow();
        }
        const uint64_t hash = Hash(name);
        Slot* slot = Probe(name, hash);
        if (slot->start != 0) {
            return false;
        }
        *slot = Slot{static_cast<uint32_t>(names_.size() + 1), static_cast<uint16_t>(name.size()),
                     static_cast<uint16_t>(hash >> 48)};
        names_.append(name);
        ++count_;
        return true;
    }

  private:
    // start is 1 + the name's offset in names_, 0 for a free slot; tag holds
    // the top 16 bits of the hash, checked before the names are compared.
    // Eight bytes a slot keep the table of 30,000 speakers in half a MiB.
    struct Slot {
        uint32_t start = 0;
        uint16_t length = 0;
        uint16_t tag = 0;
    };

    static uint64_t Hash(std::u16string_view name) {
        uint64_t h = 0x9E3779B97F4A7C15ull ^ name.size();
        const char16_t* p = name.data();
        size_t n = name.size();
        for (; n >= 4; p += 4, n -= 4) {
            uint64_t word;
            std::memcpy(&word, p, sizeof word);
            h = (h ^ word) * 0xFF51AFD7ED558CCDull;
            h ^= h >> 32;
        }
        uint64_t tail = 0;
        std::memcpy(&tail, p, n * sizeof(char16_t));
        h = (h ^ tail) * 0xC4CEB9FE1A85EC53ull;
        h ^= h >> 33;
        h *= 0xFF51AFD7ED558CCDull;
        h ^= h >> 29;
        return h;
    }

    std::u16string_view NameAt(const Slot& slot) const {
        return std::u16string_view(names_).substr(slot.start - 1, slot.length);
    }

    // The slot that holds the name, or the free slot where it belongs.
    Slot* Probe(std::u16string_view name, uint64_t hash) {
        const size_t mask = slots_.size() - 1;
        const uint16_t tag = static_cast<uint16_t>(hash >> 48);
        for (size_t i = static_cast<size_t>(hash) & mask;; i = (i + 1) & mask) {
            Slot& slot = slots_[i];
            if (slot.start == 0 ||
                (slot.tag == tag && slot.length == name.size() && NameAt(slot) == name)) {
                return &slot;
            }
        }
    }

    void Grow() {
        std::vector<Slot> old = std::exchange(slots_, std::vector<Slot>(slots_.size() * 2));
        for (const Slot& slot : old) {
            if (slot.start != 0) {
                *Probe(NameAt(slot), Hash(NameAt(slot))) = slot;
            }
        }
    }

    std::vector<Slot> slots_ = std::vector<Slot>(64);
    std::u16string names_;
    size_t count_ = 0;
};

}  // namespace

void FillAvatarList(LineTokenizer& tokenizer, AvatarListSink& list, std::u16string_view text) {
    list.Clear();
    // The lower-cased names of the entries added by this scan. The scan clears
    // the list first and is its only writer while it runs, so a name is in
    // the list exactly when its lower-cased form is in this set: one hash
    // look-up per line instead of a walk over the whole list.
    NameSet seen;
    std::u16string key;  // reused for every line
    int64_t count = 0;   // entries added so far

    // The lines are cut from the caller's text in place, the way the
    // tokenizer cuts them; only what the scan leaves unread is copied into
    // the tokenizer when it stops, as if the tokenizer had cut the lines.
    std::u16string_view rest = text;
    try {
        for (;;) {
            const size_t end = platform::Find(rest, kLineEnd);
            std::u16string_view line = rest;
            if (end == std::u16string_view::npos) {
                rest = {};
            } else {
                NarrowTo16(static_cast<int64_t>(end) + 1);  // positions are 16-bit
                line = rest.substr(0, end);
                rest = rest.substr(end + kLineEnd.size());
            }
            if (line.empty()) {
                break;
            }
            line = WithoutEspPrefix(line);
            const size_t at = platform::Find(line, kSpeakerEnd);
            if (at == std::u16string_view::npos) {
                continue;
            }
            NarrowTo16(static_cast<int64_t>(at) + 1);
            const std::u16string_view speaker = line.substr(0, at);
            if (speaker == kSystem) {
                continue;
            }
            NarrowTo16(count);  // so is the count of the list the test walks
            platform::LowerCaseUserInto(speaker, key);
            if (seen.Insert(key)) {
                list.Append(std::u16string(speaker));
                ++count;
            }
        }
    } catch (...) {
        tokenizer.Start(std::u16string(rest));
        throw;
    }
    tokenizer.Start(std::u16string(rest));
}

bool IsInList(std::u16string name, const AvatarListSink& list) {
    const std::u16string key = platform::LowerCaseUser(name);
    const int16_t n = NarrowTo16(list.Count());
    std::u16string entry;
    for (int16_t i = 0; i < n; ++i) {
        platform::LowerCaseUserInto(list.Entry(i), entry);
        if (entry == key) {
            return true;
        }
    }
    return false;
}

}  // namespace quib::text
