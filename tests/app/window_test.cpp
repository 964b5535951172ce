// frmDemo in-process under Wine: layout, start-up, shutdown, identity and the
// communicate commands, driven through real window messages.
#include <windows.h>

#include <gtest/gtest.h>

#include "app/control_ids.h"
#include "tests/app/window_harness.h"

namespace quib::test {
namespace {

TEST(WindowStart, OpensAndClosesWithExitCodeZero) {
    WindowHarness h;
    ASSERT_TRUE(h.Start());
    EXPECT_TRUE(IsWindowVisible(h.Window()));
    PostMessageW(h.Window(), WM_CLOSE, 0, 0);
    const app::PumpResult r = h.PumpUntilQuit();
    EXPECT_TRUE(r.quit);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(FakeHost::Get().Count("KillDDE"), 1);
}

}  // namespace
}  // namespace quib::test
