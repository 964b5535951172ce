#include "call_log.h"

#include "script.h"

namespace quib::standin {

bool CallLog::Open(const std::string& path) {
    const std::lock_guard<std::mutex> lock(mutex_);
    file_.reset();
    file_.reset(std::fopen(path.c_str(), "ab"));
    return file_ != nullptr;
}

void CallLog::Line(std::string_view time, char mark, std::string_view text) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!file_) {
        return;
    }
    std::string line;
    line.reserve(time.size() + text.size() + 4);
    line.append(time);
    line += ' ';
    line += mark;
    line += ' ';
    line.append(text);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), file_.get());
    std::fflush(file_.get());
}

std::string Invocation(std::string_view name, std::initializer_list<std::string_view> args) {
    std::string out(name);
    out += '(';
    bool first = true;
    for (const std::string_view a : args) {
        if (!first) {
            out += ", ";
        }
        first = false;
        out.append(a);
    }
    out += ')';
    return out;
}

std::string QuotedArgument(const char* text) {
    return text ? Quoted(text) : std::string("null");
}

}  // namespace quib::standin
