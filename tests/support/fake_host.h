// A scripted stand-in for the host library, reached through a HostTable like
// the real one. It records every call and answers each request with the next
// scripted status (or none at all), so tests can drive the bridge and the
// window without a DLL.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bridge/host_table.h"

namespace quib::test {

struct FakeHost {
    // The one instance the table's plain function pointers talk to.
    static FakeHost& Get();

    // Forgets calls, script and callbacks; resets the bridge state too.
    void Reset();
    quib::modQUIB::HostTable Table() const;

    // --- Script ---
    int16_t initResult = 0;
    // Statuses for QuibCommunicate / QuibGetAllText, one per call, in order;
    // std::nullopt makes a call that reports no status. When the script runs
    // out, every further call reports `thenStatus` (or nothing if unset).
    std::deque<std::optional<std::string>> statuses;
    std::optional<std::string> thenStatus = std::string("0");
    // Runs inside QuibCommunicate after the status is reported; may rewrite
    // the buffers (within their length).
    std::function<void(char* avatar, char* message)> onCommunicate;
    // Runs inside QuibGetAllText after the status is reported, e.g. to
    // deliver text through DeliverText.
    std::function<void()> onGetAllText;

    // --- Record ---
    // One entry per call: "InitDDE(QuibTests)", "QuibRegister(x)",
    // "QuibCommunicate(x,2,Bob,hi)" (buffers as sent), "QuibGetAllText(x)",
    // "KillDDE()", "QuibUnregister(x)".
    std::vector<std::string> calls;
    // Byte-exact buffers as sent to QuibCommunicate, up to their NUL.
    std::vector<std::string> sentAvatars;
    std::vector<std::string> sentMessages;
    int Count(const std::string& prefix) const;

    // --- Callbacks handed over by InitDDE ---
    QuibStatusCallback onStatus = nullptr;
    QuibMessageCallback onMessage = nullptr;
    QuibTextCallback onText = nullptr;

    // Calls the callbacks the program registered (or the bridge's own when
    // InitDDE was never called), with counted byte strings.
    void ReportStatus(const std::string& status) const;
    void DeliverText(const std::string& bytes) const;
    void DeliverMessage(const std::string& text1, int16_t number, const std::string& text2) const;

    // Frames a text the way a host does: four characters and a NUL after it.
    static std::string Framed(const std::string& text);

    // Reports the next scripted status, as a request does.
    void Answer();
};

}  // namespace quib::test
