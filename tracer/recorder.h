// The tracer's recording: a script in the stand-in's script language
// (vellquib/README.md, "Scripted host") that makes the stand-in answer as the
// traced host did. Plain C++; the tracer tells it of every call and callback
// on the link's thread, with the time in milliseconds from any fixed origin.
//
// Per call it writes one call line (the status the host reported, or
// InitDDE's result) and below it, in order, the callbacks made inside the
// call ("now") and the bytes the host left in QuibCommunicate's buffers
// ("write"). A callback that comes while no call is running goes below the
// last call line as "after <ms>", measured from the end of that call. Calls
// that the stand-in answers without taking a script line (no link open,
// unusable arguments, another thread, KillDDE, IsVellThere) become comments.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "owned.h"
#include "script.h"

namespace quib::tracer {

// A writable buffer of a call: size bytes, its NUL included.
struct CallBuffer {
    const char* data = nullptr;
    size_t size = 0;
};

class Recorder {
  public:
    Recorder() = default;
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // Creates (or empties) the file at path and writes header, a comment.
    bool Open(const std::string& path, std::string_view header);
    bool IsOpen() const { return file_ != nullptr; }

    // How a call goes into the recording.
    enum class Call {
        Answered,  // a call line that the stand-in answers from the script
        Comment,   // a comment only: the stand-in answers it without a line
        Closing,   // a comment; callbacks after it cannot be replayed (KillDDE)
    };
    using Buffer = CallBuffer;
    // A call begins; invocation is its call-log text ("QuibRegister(...)").
    void Begin(standin::Export e, Call how, std::string invocation, Buffer avatar = {},
               Buffer message = {});
    // The call that began last and has not ended yet ends, with its result.
    void End(int32_t result, double ms);

    // The callbacks, as the host made them.
    void Status(std::string_view status, double ms);
    void Message(std::string_view speaker, int16_t kind, std::string_view said, double ms);
    void Text(std::string_view buffer, double ms);

    // A comment of its own line, e.g. a call from another thread.
    void Comment(std::string_view text);

  private:
    struct Item {
        enum class Kind { Status, Message, Text, WriteAvatar, WriteMessage } kind;
        std::string bytes;  // Message: the speaker
        int16_t number = 0;
        std::string said;
    };
    struct Entry {
        standin::Export e = standin::Export::InitDDE;
        Call how = Call::Answered;
        std::string invocation;
        Buffer buffers[2];
        std::string seen[2];  // the buffers' bytes as last looked at
        std::vector<Item> items;
        int32_t result = 0;
        bool ended = false;
        std::string comment;  // a line of its own (Comment())
    };

    // Adds a write item for each buffer of the running call that changed.
    void NoteWrites(Entry& entry);
    void Callback(Item item, double ms);
    // Writes the entries once no call is running.
    void Flush();
    std::string Lines(const Entry& entry) const;
    // An event from the message loop, below the last call line.
    std::string Later(const Item& item, double ms) const;
    void Write(const std::string& text);

    std::mutex mutex_;
    standin::OwnedFile file_;
    std::vector<Entry> pending_;   // in the order the calls began
    std::vector<size_t> running_;  // indices into pending_, innermost last
    // The end of the last call line written, and whether later callbacks
    // can go below it (a link is open).
    double lastEndMs_ = 0;
    bool attachable_ = false;
};

// The word or quoted string that stands for a status in a call line.
std::string StatusWord(std::string_view status);

// A text delivery as an event: "text" with its lines when the bytes are
// framed as a host frames them, else "raw" with the bytes.
std::string TextEvent(std::string_view when, std::string_view bytes);

}  // namespace quib::tracer
