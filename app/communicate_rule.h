// When "&Communicate" may be clicked: a pure rule over what the window shows.
#pragma once

namespace quib::app {

// The entries of cboCommunicationMode; -1 is no entry chosen.
enum CommunicationMode : int { kModeSpeak = 0, kModeThink = 1, kModeEsp = 2 };

// Speak and Think need a line; ESP needs a line and the avatar it goes to; no
// other mode (none chosen) can be sent.
constexpr bool CommunicateEnabled(int mode, bool avatarPresent, bool linePresent) {
    switch (mode) {
        case kModeSpeak:
        case kModeThink:
            return linePresent;
        case kModeEsp:
            return avatarPresent && linePresent;
        default:
            return false;
    }
}

}  // namespace quib::app
