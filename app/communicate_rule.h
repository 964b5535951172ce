// When "&Communicate" may be clicked: a pure rule over what the window shows.
#pragma once

#include "vellquib.h"

namespace quib::app {

// The entries of cboCommunicationMode, in the order of the interface's modes
// (an entry's index is the mode sent); -1 is no entry chosen.
enum CommunicationMode : int {
    kModeSpeak = VELLQUIB_MODE_SPEAK,
    kModeThink = VELLQUIB_MODE_THINK,
    kModeEsp = VELLQUIB_MODE_ESP
};

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
