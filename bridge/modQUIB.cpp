#include "bridge/modQUIB.h"

#include <exception>
#include <optional>
#include <utility>
#include <vector>

#include "platform/codepage.h"
#include "platform/error.h"
#include "platform/exe_name.h"
#include "platform/find.h"

namespace quib::modQUIB {

namespace {

BridgeState gState;

std::optional<HostTable> gHost;
std::exception_ptr gCallbackFailure;

// A callback's counted string, decoded into `out`: a negative length counts
// as 0, and a null pointer is the empty string whatever length comes with it.
void DecodeCounted(const char* text, int32_t length, std::u16string& out) {
    quib::platform::DecodeSystemCodePage(!text || length <= 0
                                             ? std::string_view()
                                             : std::string_view(text, static_cast<size_t>(length)),
                                         out);
}

// Keeps a failure inside a callback from crossing into the library.
template <typename Body>
void RunKeepingFailure(Body body) noexcept {
    try {
        body();
    } catch (...) {
        if (!gCallbackFailure) {
            gCallbackFailure = std::current_exception();
        }
    }
}

const HostTable& Host() {
    if (!gHost) {
        throw quib::NumberedError(quib::kErrObjectNotSet, quib::platform::ExecutableName(),
                                  u"The host library is not loaded");
    }
    return *gHost;
}

std::string PluginName() {
    return quib::platform::EncodeSystemCodePage(quib::platform::ExecutableName());
}

// A writable, NUL-terminated copy of a text for the library to work in.
struct WorkBuffer {
    explicit WorkBuffer(const std::u16string& text) {
        const std::string bytes = quib::platform::EncodeSystemCodePage(text);
        data.assign(bytes.begin(), bytes.end());
        length = data.size();
        data.push_back('\0');
    }
    // Reads back exactly as many bytes as were sent, NULs included, whatever
    // the library wrote there.
    std::u16string ReadBack() const {
        return quib::platform::DecodeSystemCodePage(std::string_view(data.data(), length));
    }
    std::vector<char> data;
    size_t length = 0;
};

enum class Verdict { Return, Repeat, RegisterAndRepeat };

Verdict Judge(const std::u16string& status) {
    if (status == kStatusBusy) {
        return Verdict::Repeat;
    }
    if (status == kStatusRefused || status == kStatusOk || status.empty()) {
        return Verdict::Return;
    }
    if (status == kStatusNotRegistered) {
        return Verdict::RegisterAndRepeat;
    }
    return Verdict::Repeat;
}

// Repeats one library call as the reported status demands, within the limits.
template <typename Call>
RequestOutcome RequestLoop(RequestLimits limits, Call call) {
    const auto start = std::chrono::steady_clock::now();
    RequestOutcome outcome;
    for (;;) {
        call();
        ++outcome.calls;
        const Verdict verdict = Judge(gState.gStatus);
        if (verdict == Verdict::Return) {
            outcome.lastStatus = gState.gStatus;
            return outcome;
        }
        if (outcome.calls >= limits.maxCalls ||
            std::chrono::steady_clock::now() - start >= limits.maxTime) {
            outcome.completed = false;
            outcome.lastStatus = gState.gStatus;
            return outcome;
        }
        if (verdict == Verdict::RegisterAndRepeat) {
            QuibRegister();
        }
    }
}

}  // namespace

void VELLQUIB_CALL StatusCallback(const char* status, int32_t length) noexcept {
    RunKeepingFailure([&] { DecodeCounted(status, length, gState.gStatus); });
}

void VELLQUIB_CALL MessageCallback(const char* text1, int32_t length1, int16_t number,
                                   const char* text2, int32_t length2) noexcept {
    RunKeepingFailure([&] {
        DecodeCounted(text1, length1, gState.gMessageText1);
        DecodeCounted(text2, length2, gState.gMessageText2);
        gState.gMessageNumber = number;
    });
}

void VELLQUIB_CALL TextCallback(const char* buffer, int32_t length) noexcept {
    RunKeepingFailure([&] {
        // Into the previous text's storage: a buffer of many megabytes is not
        // allocated (and its pages faulted in) afresh on every fetch. Storage
        // far larger than the new text is given back.
        std::u16string& text = gState.gTextBuffer;
        DecodeCounted(buffer, length, text);
        TrimTextBuffer(text);
        if (text.capacity() > (1u << 20) && text.capacity() / 4 > text.size()) {
            text.shrink_to_fit();
        }
        ++gState.gTextDeliveries;
    });
}

void TrimTextBuffer(std::u16string& s) {
    // The host frames its buffer with four characters and a NUL after the text.
    const size_t nul = static_cast<size_t>(
        quib::platform::FindChar(s.data(), s.data() + s.size(), u'\0') - s.data());
    if (nul < s.size() && nul + 1 > 5) {
        s.resize(nul + 1 - 5);
    }
    size_t end = s.size();
    while (end >= 2 && s[end - 2] == u'\r' && s[end - 1] == u'\n') {
        end -= 2;
    }
    s.resize(end);
}

void RethrowCallbackFailure() {
    if (gCallbackFailure) {
        std::exception_ptr failure = std::exchange(gCallbackFailure, nullptr);
        std::rethrow_exception(failure);
    }
}

const BridgeState& State() {
    return gState;
}

void ResetState() {
    gState = BridgeState();
}

void ClearTextBuffer() {
    gState.gTextBuffer.clear();
}

void AttachHost(const HostTable& table) {
    gHost = table;
}
void DetachHost() {
    gHost.reset();
}

int16_t InitDDE() {
    const std::string plugin = PluginName();
    const int16_t result =
        Host().InitDDE(plugin.c_str(), &StatusCallback, &MessageCallback, &TextCallback);
    RethrowCallbackFailure();
    return result;
}

void KillDDE() {
    Host().KillDDE();
    RethrowCallbackFailure();
}

void QuibRegister() {
    const std::string plugin = PluginName();
    Host().QuibRegister(plugin.c_str());
    RethrowCallbackFailure();
}

void QuibUnregister() {
    const std::string plugin = PluginName();
    Host().QuibUnregister(plugin.c_str());
    RethrowCallbackFailure();
}

RequestOutcome Communicate(int32_t mode, std::u16string avatar, std::u16string message,
                           RequestLimits limits) {
    const int16_t mode16 = quib::NarrowTo16(mode);
    // The working texts: each repetition sends what the library left in the
    // buffers of the call before.
    std::u16string workAvatar = std::move(avatar);
    std::u16string workMessage = std::move(message);
    return RequestLoop(limits, [&] {
        const std::string plugin = PluginName();
        WorkBuffer a(workAvatar);
        WorkBuffer m(workMessage);
        Host().QuibCommunicate(plugin.c_str(), mode16, a.data.data(), m.data.data());
        RethrowCallbackFailure();
        workAvatar = a.ReadBack();
        workMessage = m.ReadBack();
    });
}

RequestOutcome GetAllText(RequestLimits limits) {
    return RequestLoop(limits, [] {
        const std::string plugin = PluginName();
        Host().QuibGetAllText(plugin.c_str());
        RethrowCallbackFailure();
    });
}

}  // namespace quib::modQUIB
