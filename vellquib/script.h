// A script for the stand-in host library: what each call is answered with,
// instead of the simulated world. Plain C++ without any Windows call; the
// format is described in vellquib/README.md ("Scripted host").
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "vellquib.h"

namespace quib::standin {

// The exports of the interface header, in its order.
#define QUIB_EXPORT_ENUMERATOR(type, name, parameters, needed) name,
enum class Export { VELLQUIB_EXPORTS(QUIB_EXPORT_ENUMERATOR) };
#undef QUIB_EXPORT_ENUMERATOR
#define QUIB_EXPORT_ONE(type, name, parameters, needed) +1
inline constexpr size_t kExportCount = 0 VELLQUIB_EXPORTS(QUIB_EXPORT_ONE);
#undef QUIB_EXPORT_ONE
const char* ExportName(Export e);
// QuibCommunicate, QuibGetAllText and QuibSend report a status.
bool IsRequest(Export e);

// When an event of an answer happens.
enum class When {
    Now,    // inside the call, before its status
    Later,  // after the call, at the next dispatch of the link's messages
    After,  // delayMs after the call, from the link's timer
};

struct ScriptEvent {
    enum class Kind {
        Text,          // a delivery to the text callback: bytes, exactly
        Message,       // a call of the message callback: speaker, number, said
        WriteAvatar,   // QuibCommunicate overwrites its avatar buffer with bytes
        WriteMessage,  // ... its message buffer
    };
    Kind kind = Kind::Text;
    When when = When::Later;
    int delayMs = 0;
    std::string bytes;  // Text, Write*: the bytes; Message: the speaker
    int16_t number = 0;
    std::string said;
};

// The answer to one call: the status it reports (none: no status), InitDDE's
// result, and the events that follow, in the order of the script.
struct ScriptAnswer {
    int line = 0;
    std::optional<std::string> status;
    int16_t initResult = 0;
    std::vector<ScriptEvent> events;
};

struct ScriptError {
    int line = 0;  // 1-based; 0 for the file as a whole
    std::string what;
};

class Script {
  public:
    // The answer to the next call of e, or nullptr when the script has none
    // left for it. Each call takes the next answer written for its export.
    const ScriptAnswer* Next(Export e);

  private:
    friend std::variant<Script, ScriptError> ParseScript(std::string_view text);
    std::array<std::vector<ScriptAnswer>, kExportCount> answers_;
    std::array<size_t, kExportCount> next_{};
};

// Reads a script. A malformed one gives the first error and its line.
std::variant<Script, ScriptError> ParseScript(std::string_view text);

// The longest script file that is read: room for a recorded session whose
// fetches bring megabytes each (tracer/README.md).
inline constexpr size_t kMaxScriptBytes = size_t{64} << 20;

// Reads the script file at path (8-bit, as the system takes it). The error of
// one that cannot be read or is malformed names the file and the line:
// "script <path> line <n>: <what>".
std::variant<Script, std::string> ReadScriptFile(const std::string& path);

// The buffer as a host delivers it: each line ended by CR LF, then the line
// count in four decimal digits and a NUL.
std::string FramedText(const std::vector<std::string>& lines);

// Bytes as a quoted string with the script's escapes: \" \\ \r \n \t \0 and
// \xHH for the other bytes outside printable ASCII.
std::string Quoted(std::string_view bytes);

}  // namespace quib::standin
