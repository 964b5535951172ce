// What answers the calls of the stand-in's open link: the simulated world
// (sim_world.h) or a script (script.h). The exports check the link and the
// arguments that every answer shares, then hand the call to the link's
// answerer, which reports through the link (plugin_link.h).
//
// An answerer lives as long as its link. A callback may close the link, and
// with it the answerer, so after every callback that reports the link
// closed an answerer returns at once without touching its members.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "plugin_link.h"
#include "script.h"
#include "sim_world.h"

namespace quib::standin {

// A status as the number that the requests return.
int32_t StatusNumber(std::string_view status);

// One call of the plug-in with its arguments as received; those its export
// does not take stay null.
struct Call {
    Export what = Export::QuibRegister;
    const char* plugin = nullptr;
    int16_t mode = 0;
    char* avatar = nullptr;         // QuibCommunicate
    char* message = nullptr;        // QuibCommunicate
    const char* command = nullptr;  // QuibSend
};

class Answerer {
  public:
    explicit Answerer(PluginLink& link) : link_(link) {}
    virtual ~Answerer() = default;
    Answerer(const Answerer&) = delete;
    Answerer& operator=(const Answerer&) = delete;

    // The link has just opened (InitDDE returns 0).
    virtual void Opened() = 0;
    // A call of any export but InitDDE, KillDDE and IsVellThere (which follow
    // the link), whose arguments are usable; returns the export's result.
    virtual int32_t Answer(const Call& call) = 0;
    // IsVellThere while the link is open: whether the host client is there.
    virtual bool HostThere() const { return true; }

    // A request with unusable arguments: reports "-1".
    int32_t Refuse() { return Report(kStatusRefused); }

  protected:
    // Reports a request's status and returns it as a number.
    int32_t Report(std::string_view status);
    // Runs before a status is reported; false when it closed the link.
    virtual bool BeforeStatus() { return true; }

    PluginLink& link_;
};

// Answers from the simulated world: registration, busy answers, the chatter
// of its avatars, answers to ESPs. Every line the world gains is told to the
// plug-in through the message callback.
class WorldAnswerer final : public Answerer {
  public:
    WorldAnswerer(PluginLink& link, Config config);
    void Opened() override;
    int32_t Answer(const Call& call) override;

  private:
    bool BeforeStatus() override { return FlushNotices(); }
    // Tells the plug-in of every line the world gained; false when a
    // callback closed the link.
    bool FlushNotices();
    int32_t Communicate(const Call& call);
    int32_t GetAllText(const Call& call);

    World world_;
};

// Answers from a script: each call takes the next answer written for its
// export, runs its events and reports its status.
class ScriptAnswerer final : public Answerer {
  public:
    // initAnswer: the script's answer to the InitDDE that opened the link,
    // whose events run once it is open (may be null).
    ScriptAnswerer(PluginLink& link, Script& script, std::string path,
                   const ScriptAnswer* initAnswer);
    void Opened() override;
    int32_t Answer(const Call& call) override;

  private:
    // False when a callback closed the link. call: the QuibCommunicate whose
    // buffers write events overwrite, or null.
    bool RunEvents(const ScriptAnswer& answer, const Call* call);

    Script& script_;
    std::string path_;
    const ScriptAnswer* initAnswer_;
};

}  // namespace quib::standin
