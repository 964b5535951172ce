#include "tests/support/fake_host.h"

#include "bridge/modQUIB.h"

namespace quib::test {

namespace {

FakeHost& F() {
    return FakeHost::Get();
}

int16_t VELLQUIB_CALL FakeInitDDE(const char* plugin, QuibStatusCallback onStatus,
                                  QuibMessageCallback onMessage, QuibTextCallback onText) {
    F().calls.push_back("InitDDE(" + std::string(plugin) + ")");
    F().onStatus = onStatus;
    F().onMessage = onMessage;
    F().onText = onText;
    return F().initResult;
}

int32_t VELLQUIB_CALL FakeKillDDE() {
    F().calls.push_back("KillDDE()");
    return 0;
}

int32_t VELLQUIB_CALL FakeRegister(const char* plugin) {
    F().calls.push_back("QuibRegister(" + std::string(plugin) + ")");
    return 0;
}

int32_t VELLQUIB_CALL FakeUnregister(const char* plugin) {
    F().calls.push_back("QuibUnregister(" + std::string(plugin) + ")");
    return 0;
}

}  // namespace

namespace {

struct FakeHostAccess {
    static int32_t VELLQUIB_CALL Communicate(const char* plugin, int16_t mode, char* avatar,
                                             char* message) {
        FakeHost& f = F();
        f.sentAvatars.emplace_back(avatar);
        f.sentMessages.emplace_back(message);
        f.calls.push_back("QuibCommunicate(" + std::string(plugin) + "," + std::to_string(mode) +
                          "," + avatar + "," + message + ")");
        f.Answer();
        if (f.onCommunicate) {
            f.onCommunicate(avatar, message);
        }
        return 0;
    }
    static int32_t VELLQUIB_CALL GetAllText(const char* plugin) {
        FakeHost& f = F();
        f.calls.push_back("QuibGetAllText(" + std::string(plugin) + ")");
        f.Answer();
        if (f.onGetAllText) {
            f.onGetAllText();
        }
        return 0;
    }
};

}  // namespace

FakeHost& FakeHost::Get() {
    static FakeHost host;
    return host;
}

void FakeHost::Reset() {
    *this = FakeHost();
    quib::modQUIB::ResetState();
}

quib::modQUIB::HostTable FakeHost::Table() const {
    quib::modQUIB::HostTable t;
    t.InitDDE = &FakeInitDDE;
    t.KillDDE = &FakeKillDDE;
    t.QuibRegister = &FakeRegister;
    t.QuibUnregister = &FakeUnregister;
    t.QuibCommunicate = &FakeHostAccess::Communicate;
    t.QuibGetAllText = &FakeHostAccess::GetAllText;
    return t;
}

int FakeHost::Count(const std::string& prefix) const {
    int n = 0;
    for (const auto& c : calls) {
        n += c.rfind(prefix, 0) == 0 ? 1 : 0;
    }
    return n;
}

void FakeHost::Answer() {
    std::optional<std::string> status = thenStatus;
    if (!statuses.empty()) {
        status = statuses.front();
        statuses.pop_front();
    }
    if (status) {
        ReportStatus(*status);
    }
}

void FakeHost::ReportStatus(const std::string& status) const {
    (onStatus ? onStatus : &quib::modQUIB::StatusCallback)(status.data(),
                                                           static_cast<int32_t>(status.size()));
}

void FakeHost::DeliverText(const std::string& bytes) const {
    (onText ? onText : &quib::modQUIB::TextCallback)(bytes.data(),
                                                     static_cast<int32_t>(bytes.size()));
}

void FakeHost::DeliverMessage(const std::string& text1, int16_t number,
                              const std::string& text2) const {
    (onMessage ? onMessage : &quib::modQUIB::MessageCallback)(
        text1.data(), static_cast<int32_t>(text1.size()), number, text2.data(),
        static_cast<int32_t>(text2.size()));
}

std::string FakeHost::Framed(const std::string& text) {
    return text + "####" + '\0';
}

}  // namespace quib::test
