// The wait of a text-buffer fetch: window events keep being processed until
// the host library has delivered the text, and the wait always ends.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

namespace quib::app {

enum class TextWaitEnd {
    Text,           // gTextBuffer holds text
    EmptyDelivery,  // a delivery came and left gTextBuffer empty
    TimedOut,       // no delivery within the time-out
    WindowClosed,   // the window was destroyed during the wait
    Quit,           // WM_QUIT was met; it has been posted again
};

struct TextWaitHooks {
    // Processes every pending message once, the way the main loop does, and
    // returns the exit code when it met WM_QUIT.
    std::function<std::optional<int>()> pumpOnce;
    // True once the window is closing or gone: that ends the wait. May be
    // empty when no window can close during the wait.
    std::function<bool()> windowClosed;
};

// Waits until gTextBuffer is non-empty or TextCallback has been called since
// gTextDeliveries was `deliveriesMark`. Both are tested before each pass of
// event processing (after the window's state), so a text stored before the
// call ends it at once. Between
// passes the thread sleeps until a message arrives or the time-out is due.
// A failure inside a callback is raised after the pass in which it arose.
TextWaitEnd WaitForText(uint32_t deliveriesMark, std::chrono::milliseconds timeout,
                        const TextWaitHooks& hooks);

}  // namespace quib::app
