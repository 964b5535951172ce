// The stand-in's call log: one line per call into the library and one per
// callback it makes, appended to a file and flushed line by line, so that
// the log survives a crash of the plug-in. The format is described in
// vellquib/README.md ("Call log"). Plain C++; the caller supplies the time.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "owned.h"
#include "script.h"

namespace quib::standin {

class CallLog {
  public:
    CallLog() = default;
    CallLog(const CallLog&) = delete;
    CallLog& operator=(const CallLog&) = delete;

    // Appends to the file at path (8-bit, as the system takes it). False
    // when it cannot be opened; the log then stays closed.
    bool Open(const std::string& path);
    bool IsOpen() const { return file_ != nullptr; }

    // One line each: "<time> > <call>", "<time> < <callback>",
    // "<time> ! <note>". Calls from several threads do not interleave.
    void Call(std::string_view time, std::string_view text) { Line(time, '>', text); }
    void Callback(std::string_view time, std::string_view text) { Line(time, '<', text); }
    void Note(std::string_view time, std::string_view text) { Line(time, '!', text); }

  private:
    void Line(std::string_view time, char mark, std::string_view text);

    std::mutex mutex_;
    OwnedFile file_;
};

// "name(a, b, c)": a call or callback as the log writes it.
std::string Invocation(std::string_view name, std::initializer_list<std::string_view> args);

// A NUL-terminated argument as received: quoted, or null.
std::string QuotedArgument(const char* text);

// The arguments of one call as the plug-in passed them; those its export
// does not take stay null.
struct CallArgs {
    const char* plugin = nullptr;
    int16_t mode = 0;
    char* avatar = nullptr;
    char* message = nullptr;
    const char* command = nullptr;
    const void* onStatus = nullptr;  // InitDDE's callbacks
    const void* onMessage = nullptr;
    const void* onText = nullptr;
};

// The call as the log writes it: QuibCommunicate("Hello", 0, "Bob", "hi").
std::string CallInvocation(Export what, const CallArgs& args);

}  // namespace quib::standin
