// The enable rule of "&Communicate" over every combination, without a window.
#include <gtest/gtest.h>

#include "app/communicate_rule.h"

namespace quib::app {
namespace {

TEST(CommunicateRule, EveryModeWithAndWithoutAvatarAndLine) {
    struct Row {
        int mode;
        bool avatar;
        bool line;
        bool enabled;
    };
    const Row rows[] = {
        // Speak and Think need the line only; the avatar does not matter.
        {kModeSpeak, false, false, false},
        {kModeSpeak, false, true, true},
        {kModeSpeak, true, false, false},
        {kModeSpeak, true, true, true},
        {kModeThink, false, false, false},
        {kModeThink, false, true, true},
        {kModeThink, true, false, false},
        {kModeThink, true, true, true},
        // ESP needs both.
        {kModeEsp, false, false, false},
        {kModeEsp, false, true, false},
        {kModeEsp, true, false, false},
        {kModeEsp, true, true, true},
        // No mode chosen, or one the list does not have: never.
        {-1, true, true, false},
        {3, true, true, false},
        {-32768, true, true, false},
        {32767, true, true, false},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(CommunicateEnabled(r.mode, r.avatar, r.line), r.enabled)
            << "mode " << r.mode << ", avatar " << r.avatar << ", line " << r.line;
    }
}

}  // namespace
}  // namespace quib::app
