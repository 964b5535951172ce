#include "process_log.h"

#include <windows.h>

#include <cstdio>
#include <mutex>

#include "call_log.h"
#include "plugin_link.h"

namespace quib::standin {

namespace {

CallLog& Log() {
    static CallLog log;
    static std::once_flag opened;
    std::call_once(opened, [] {
        if (const auto path = EnvironmentValue("VELLQUIB_LOG"); path && !path->empty()) {
            if (!log.Open(*path)) {
                ToStandardError("cannot open the call log " + *path);
            }
        }
    });
    return log;
}

}  // namespace

std::string TimeOfDay() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    char text[16];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u.%03u", t.wHour, t.wMinute, t.wSecond,
                  t.wMilliseconds);
    return text;
}

std::optional<std::string> EnvironmentValue(const char* name) {
    char small[256];
    const DWORD n = GetEnvironmentVariableA(name, small, sizeof small);
    if (n == 0) {
        return std::nullopt;
    }
    if (n < sizeof small) {
        return std::string(small, n);
    }
    std::string big(n, '\0');
    const DWORD m = GetEnvironmentVariableA(name, big.data(), n);
    if (m == 0 || m >= n) {
        return std::nullopt;
    }
    big.resize(m);
    return big;
}

void ToStandardError(const std::string& text) {
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (err && err != INVALID_HANDLE_VALUE) {
        const std::string line = "vellquib: " + text + "\r\n";
        DWORD written = 0;
        WriteFile(err, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    }
}

void LogCall(std::string_view invocation) {
    CallLog& log = Log();
    if (!log.IsOpen()) {
        return;
    }
    if (PluginLink::Claimed() && !PluginLink::CallerOwnsLink()) {
        log.Call(TimeOfDay(), std::string(invocation) + " [not the link's thread]");
    } else {
        log.Call(TimeOfDay(), invocation);
    }
}

void LogCallback(std::string_view invocation) {
    Log().Callback(TimeOfDay(), invocation);
}

void LogNote(std::string_view note) {
    Log().Note(TimeOfDay(), note);
}

bool LogIsOpen() {
    return Log().IsOpen();
}

}  // namespace quib::standin
