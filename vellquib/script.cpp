#include "script.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <utility>

#include "owned.h"

namespace quib::standin {

namespace {

#define QUIB_EXPORT_NAME(type, name, parameters, needed) #name,
constexpr std::array<const char*, kExportCount> kExportNames = {VELLQUIB_EXPORTS(QUIB_EXPORT_NAME)};
#undef QUIB_EXPORT_NAME

constexpr long long kMaxDelayMs = 600000;

// The escapes of quoted strings besides \xHH: the letter after the backslash
// and the byte it stands for.
constexpr std::array<std::pair<char, char>, 6> kEscapes = {
    {{'"', '"'}, {'\\', '\\'}, {'r', '\r'}, {'n', '\n'}, {'t', '\t'}, {'0', '\0'}}};

// The byte an escape letter stands for, or nullptr.
const char* EscapedByte(char letter) {
    for (const auto& e : kEscapes) {
        if (e.first == letter) {
            return &e.second;
        }
    }
    return nullptr;
}

struct Token {
    bool quoted = false;
    std::string text;
};

// A failure while reading one line; the parser adds the line number.
struct LineError {
    std::string what;
};

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Splits a line into bare words and quoted strings; '#' outside a string
// starts a comment.
std::variant<std::vector<Token>, LineError> Tokens(std::string_view line) {
    std::vector<Token> out;
    size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (c == ' ' || c == '\t') {
            ++i;
            continue;
        }
        if (c == '#') {
            break;
        }
        Token t;
        if (c != '"') {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '"') {
                t.text += line[i++];
            }
            out.push_back(std::move(t));
            continue;
        }
        t.quoted = true;
        ++i;
        for (;;) {
            if (i >= line.size()) {
                return LineError{"a string is not closed with \""};
            }
            const char d = line[i++];
            if (d == '"') {
                break;
            }
            if (d != '\\') {
                t.text += d;
                continue;
            }
            const char e = i < line.size() ? line[i++] : '\0';
            if (const char* plain = EscapedByte(e)) {
                t.text += *plain;
                continue;
            }
            if (e != 'x') {
                return LineError{std::string("unknown escape \\") + (e ? std::string(1, e) : "") +
                                 " (known: \\\" \\\\ \\r \\n \\t \\0 \\xHH)"};
            }
            const int hi = i < line.size() ? HexDigit(line[i]) : -1;
            const int lo = i + 1 < line.size() ? HexDigit(line[i + 1]) : -1;
            if (hi < 0 || lo < 0) {
                return LineError{"\\x needs two hexadecimal digits"};
            }
            t.text += static_cast<char>(hi * 16 + lo);
            i += 2;
        }
        if (i < line.size() && line[i] != ' ' && line[i] != '\t') {
            return LineError{"a blank must follow a string"};
        }
        out.push_back(std::move(t));
    }
    return out;
}

std::optional<long long> Integer(const Token& t, long long low, long long high) {
    if (t.quoted || t.text.empty()) {
        return std::nullopt;
    }
    long long value = 0;
    const char* first = t.text.data();
    const char* last = first + t.text.size();
    const auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || end != last || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

// KillDDE and IsVellThere follow the link: the stand-in answers them by
// itself, never from a script.
bool IsScripted(Export e) {
    return e != Export::KillDDE && e != Export::IsVellThere;
}

std::optional<Export> ExportNamed(std::string_view word) {
    for (size_t i = 0; i < kExportCount; ++i) {
        if (word == kExportNames[i]) {
            return static_cast<Export>(i);
        }
    }
    return std::nullopt;
}

// A call line: the export, then its status (InitDDE: its result).
std::variant<ScriptAnswer, LineError> CallLine(Export e, const std::vector<Token>& t) {
    ScriptAnswer a;
    const std::string name = kExportNames[static_cast<size_t>(e)];
    if (t.size() > 2) {
        return LineError{"unexpected " + Quoted(t[2].text) + " after " + name + "'s " +
                         (e == Export::InitDDE ? "result" : "status")};
    }
    if (e == Export::InitDDE) {
        if (t.size() == 2) {
            const auto v = Integer(t[1], -32768, 32767);
            if (!v) {
                return LineError{"InitDDE's result must be a number from -32768 to 32767, not " +
                                 Quoted(t[1].text)};
            }
            a.initResult = static_cast<int16_t>(*v);
        }
        return a;
    }
    if (t.size() < 2) {
        if (IsRequest(e)) {
            return LineError{name + " needs the status it reports (or - for none)"};
        }
        return a;
    }
    if (!(t[1].text == "-" && !t[1].quoted)) {
        a.status = t[1].text;
    }
    return a;
}

// The optional timing of an event: now, later, or after N (milliseconds).
std::variant<size_t, LineError> Timing(const std::vector<Token>& t, size_t at, ScriptEvent& ev) {
    if (at >= t.size() || t[at].quoted) {
        return at;
    }
    if (t[at].text == "now") {
        ev.when = When::Now;
        return at + 1;
    }
    if (t[at].text == "later") {
        ev.when = When::Later;
        return at + 1;
    }
    if (t[at].text == "after") {
        const auto ms = at + 1 < t.size() ? Integer(t[at + 1], 0, kMaxDelayMs) : std::nullopt;
        if (!ms) {
            return LineError{"after needs a number of milliseconds from 0 to 600000"};
        }
        ev.when = When::After;
        ev.delayMs = static_cast<int>(*ms);
        return at + 2;
    }
    return LineError{"unknown timing " + Quoted(t[at].text) + " (known: now, later, after N)"};
}

std::variant<ScriptEvent, LineError> EventLine(Export owner, const std::vector<Token>& t) {
    ScriptEvent ev;
    const std::string& word = t[0].text;
    if (word == "write") {
        if (owner != Export::QuibCommunicate) {
            return LineError{"write belongs below a QuibCommunicate line"};
        }
        if (t.size() != 3 || t[1].quoted || (t[1].text != "avatar" && t[1].text != "message") ||
            !t[2].quoted) {
            return LineError{"write needs avatar or message and a quoted string"};
        }
        ev.kind = t[1].text == "avatar" ? ScriptEvent::Kind::WriteAvatar
                                        : ScriptEvent::Kind::WriteMessage;
        ev.when = When::Now;
        ev.bytes = t[2].text;
        return ev;
    }
    const auto timing = Timing(t, 1, ev);
    if (const auto* e = std::get_if<LineError>(&timing)) {
        return *e;
    }
    const size_t at = std::get<size_t>(timing);
    if (word == "text") {
        std::vector<std::string> lines;
        for (size_t i = at; i < t.size(); ++i) {
            if (!t[i].quoted) {
                return LineError{"text takes quoted lines, not " + Quoted(t[i].text)};
            }
            lines.push_back(t[i].text);
        }
        ev.kind = ScriptEvent::Kind::Text;
        ev.bytes = FramedText(lines);
        return ev;
    }
    if (word == "raw") {
        if (t.size() != at + 1 || !t[at].quoted) {
            return LineError{"raw takes one quoted string"};
        }
        ev.kind = ScriptEvent::Kind::Text;
        ev.bytes = t[at].text;
        return ev;
    }
    // message
    const auto number = t.size() == at + 3 ? Integer(t[at + 1], -32768, 32767) : std::nullopt;
    if (!number || !t[at].quoted || !t[at + 2].quoted) {
        return LineError{
            "message takes a quoted speaker, a number from -32768 to 32767 and a "
            "quoted text"};
    }
    ev.kind = ScriptEvent::Kind::Message;
    ev.bytes = t[at].text;
    ev.number = static_cast<int16_t>(*number);
    ev.said = t[at + 2].text;
    return ev;
}

}  // namespace

const char* ExportName(Export e) {
    return kExportNames[static_cast<size_t>(e)];
}

bool IsRequest(Export e) {
    return e == Export::QuibCommunicate || e == Export::QuibGetAllText || e == Export::QuibSend;
}

const ScriptAnswer* Script::Next(Export e) {
    const size_t i = static_cast<size_t>(e);
    if (next_[i] >= answers_[i].size()) {
        return nullptr;
    }
    return &answers_[i][next_[i]++];
}

std::variant<Script, ScriptError> ParseScript(std::string_view text) {
    if (text.size() > kMaxScriptBytes) {
        return ScriptError{0, "the script is larger than 64 MiB"};
    }
    Script script;
    ScriptAnswer* current = nullptr;
    Export currentExport = Export::InitDDE;
    int number = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        ++number;
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        auto tokens = Tokens(line);
        if (const auto* e = std::get_if<LineError>(&tokens)) {
            return ScriptError{number, e->what};
        }
        const std::vector<Token>& t = std::get<std::vector<Token>>(tokens);
        if (t.empty()) {
            continue;
        }
        if (t[0].quoted) {
            return ScriptError{number, "a line begins with an export or an event, not a string"};
        }
        const std::string& word = t[0].text;
        if (const auto e = ExportNamed(word)) {
            if (!IsScripted(*e)) {
                return ScriptError{number, word + " cannot be scripted: it follows the link"};
            }
            auto call = CallLine(*e, t);
            if (const auto* err = std::get_if<LineError>(&call)) {
                return ScriptError{number, err->what};
            }
            auto& list = script.answers_[static_cast<size_t>(*e)];
            list.push_back(std::get<ScriptAnswer>(std::move(call)));
            list.back().line = number;
            current = &list.back();
            currentExport = *e;
            continue;
        }
        if (word != "text" && word != "raw" && word != "message" && word != "write") {
            return ScriptError{number, "unknown word " + Quoted(word) +
                                           " (expected an export, or text, raw, message, write)"};
        }
        if (!current) {
            return ScriptError{number, word + " needs a call line above it"};
        }
        auto ev = EventLine(currentExport, t);
        if (const auto* err = std::get_if<LineError>(&ev)) {
            return ScriptError{number, err->what};
        }
        current->events.push_back(std::get<ScriptEvent>(std::move(ev)));
    }
    return script;
}

std::variant<Script, std::string> ReadScriptFile(const std::string& path) {
    const OwnedFile file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        return "script " + path + ": cannot be read";
    }
    std::string text;
    char chunk[4096];
    size_t n = 0;
    while (text.size() <= kMaxScriptBytes &&
           (n = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
        text.append(chunk, n);
    }
    auto parsed = ParseScript(text);
    if (auto* script = std::get_if<Script>(&parsed)) {
        return std::move(*script);
    }
    const auto& e = std::get<ScriptError>(parsed);
    return "script " + path + (e.line > 0 ? " line " + std::to_string(e.line) : "") + ": " + e.what;
}

std::string FramedText(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& l : lines) {
        out += l;
        out += "\r\n";
    }
    const std::string count = std::to_string(lines.size() % 10000);
    out += std::string(4 - count.size(), '0') + count;
    out += '\0';
    return out;
}

std::string Quoted(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out = "\"";
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        const auto escape = std::find_if(kEscapes.begin(), kEscapes.end(),
                                         [c](const auto& e) { return e.second == c; });
        if (escape != kEscapes.end()) {
            out += '\\';
            out += escape->first;
        } else if (u < 0x20 || u > 0x7E) {
            out += "\\x";
            out += kHex[u >> 4];
            out += kHex[u & 15];
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
}

}  // namespace quib::standin
