// modQUIB: the bridge between the program and the host library.
//
// It holds the state that the library's replies fill (through the three
// callbacks handed to InitDDE), and the request loops that repeat a request
// until the status the library reports ends it.
//
// Everything here runs on the window thread; nothing is locked.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "bridge/host_table.h"

namespace quib::modQUIB {

// --- Bridge state, filled by the callbacks ---------------------------------

// What the library's replies left behind. The callbacks write it; everything
// else reads it through State().
struct BridgeState {
    std::u16string gStatus;        // last status the library reported
    std::u16string gMessageText1;  // last MessageCallback, first text
    std::u16string gMessageText2;  // last MessageCallback, second text
    std::u16string gTextBuffer;    // last text buffer, trimmed
    int16_t gMessageNumber = 0;    // last MessageCallback number
    // Counts the deliveries of TextCallback, empty ones included, so that a
    // waiting fetch can tell "the host sent an empty buffer" from "nothing
    // yet".
    uint32_t gTextDeliveries = 0;
};

const BridgeState& State();
// Forgets everything the callbacks stored, as at start.
void ResetState();
// Empties gTextBuffer before a fetch, so that the text that arrives is told
// from the one before; its storage is kept for the next delivery.
void ClearTextBuffer();

// The four statuses the request loops react to, from the interface header.
inline constexpr std::u16string_view kStatusRefused = u"" VELLQUIB_STATUS_REFUSED;
inline constexpr std::u16string_view kStatusOk = u"" VELLQUIB_STATUS_OK;
inline constexpr std::u16string_view kStatusBusy = u"" VELLQUIB_STATUS_BUSY;
inline constexpr std::u16string_view kStatusNotRegistered = u"" VELLQUIB_STATUS_NOT_REGISTERED;

// --- Callbacks handed to InitDDE --------------------------------------------
// They decode, store and return; they never throw into the library. A failure
// inside one (out of memory) is kept and raised by RethrowCallbackFailure.

void VELLQUIB_CALL StatusCallback(const char* status, int32_t length) noexcept;
void VELLQUIB_CALL MessageCallback(const char* text1, int32_t length1, int16_t number,
                                   const char* text2, int32_t length2) noexcept;
void VELLQUIB_CALL TextCallback(const char* buffer, int32_t length) noexcept;

// The trimming TextCallback applies to a decoded buffer, in place: cut before
// the four characters that precede the first NUL (when that NUL stands after
// position 5), then drop every trailing CR LF.
void TrimTextBuffer(std::u16string& s);

// Raises, once, a failure that arose inside a callback.
void RethrowCallbackFailure();

// --- The host library --------------------------------------------------------

// Selects the table through which every call below reaches the library.
void AttachHost(const HostTable& table);
void DetachHost();

// Direct calls, each with the executable name read afresh. InitDDE hands the
// library the three callbacks above and returns its 16-bit result.
int16_t InitDDE();
void KillDDE();
void QuibRegister();
void QuibUnregister();

// --- Request loops -----------------------------------------------------------

// How a request loop ended. completed is false when the host kept answering
// with a status that repeats the request until the loop's bound was reached;
// lastStatus is then the status it last reported.
struct RequestOutcome {
    bool completed = true;
    std::u16string lastStatus;
    int32_t calls = 0;
};

// A host that keeps answering "busy" must not freeze the window for good:
// the loops give up after this many calls or this much time, whichever first.
struct RequestLimits {
    int32_t maxCalls;
    std::chrono::milliseconds maxTime;
};
inline constexpr RequestLimits kDefaultRequestLimits{200, std::chrono::milliseconds(2000)};

// Sends a line with QuibCommunicate until the status ends the request. mode
// outside -32768..32767 is error 6, raised before anything is sent.
[[nodiscard]] RequestOutcome Communicate(int32_t mode, std::u16string avatar,
                                         std::u16string message,
                                         RequestLimits limits = kDefaultRequestLimits);

// Asks for the whole text buffer with QuibGetAllText until the status ends the
// request. The text itself arrives through TextCallback; gTextBuffer is not
// touched here.
[[nodiscard]] RequestOutcome GetAllText(RequestLimits limits = kDefaultRequestLimits);

}  // namespace quib::modQUIB
