// What a host library of ours reads from and writes to its process: the
// environment, standard error, and the call log that VELLQUIB_LOG names
// (call_log.h), with the local time of day on every line.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quib::standin {

// The value of an environment variable, or nullopt when it is unset.
std::optional<std::string> EnvironmentValue(const char* name);

// The local time of day to the millisecond, "hh:mm:ss.mmm", as every log
// line begins.
std::string TimeOfDay();

// Writes "vellquib: <text>" to the process's standard error, where it has one.
void ToStandardError(const std::string& text);

// The call log, opened on first use from VELLQUIB_LOG; it stays closed when
// that is unset or empty or names a file that cannot be opened.
bool LogIsOpen();
// A call into the library as it was received; one from a thread that does
// not own the link is marked so.
void LogCall(std::string_view invocation);
// A callback, just before it is made.
void LogCallback(std::string_view invocation);
// A note of the library's own: the link opened, a script error.
void LogNote(std::string_view note);

}  // namespace quib::standin
