#include "call_log.h"

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

std::string CallInvocation(Export what, const CallArgs& args) {
    const auto callback = [](const void* p, const char* name) { return p ? name : "null"; };
    const char* name = ExportName(what);
    switch (what) {
        case Export::InitDDE:
            return Invocation(
                name, {QuotedArgument(args.plugin), callback(args.onStatus, "onStatus"),
                       callback(args.onMessage, "onMessage"), callback(args.onText, "onText")});
        case Export::KillDDE:
        case Export::IsVellThere:
            return Invocation(name, {});
        case Export::QuibCommunicate:
            return Invocation(name, {QuotedArgument(args.plugin), std::to_string(args.mode),
                                     QuotedArgument(args.avatar), QuotedArgument(args.message)});
        case Export::QuibSend:
            return Invocation(name, {QuotedArgument(args.plugin), QuotedArgument(args.command)});
        default:
            return Invocation(name, {QuotedArgument(args.plugin)});
    }
}

}  // namespace quib::standin
