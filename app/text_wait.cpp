#include "app/text_wait.h"

#include "bridge/modQUIB.h"

namespace quib::app {

TextWaitEnd WaitForText(uint32_t deliveriesMark, std::chrono::milliseconds timeout,
                        const TextWaitHooks& hooks) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + timeout;
    for (;;) {
        // A closed window comes first: a text that arrived with the close
        // has nowhere to go.
        if (hooks.windowClosed && hooks.windowClosed()) {
            return TextWaitEnd::WindowClosed;
        }
        if (!quib::modQUIB::State().gTextBuffer.empty()) {
            return TextWaitEnd::Text;
        }
        if (quib::modQUIB::State().gTextDeliveries != deliveriesMark) {
            return TextWaitEnd::EmptyDelivery;
        }
        const Clock::duration left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) {
            return TextWaitEnd::TimedOut;
        }
        // Round up, so that the deadline has passed when the wait times out.
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
        const DWORD sleep = ms >= static_cast<long long>(INFINITE - 1)
                                ? static_cast<DWORD>(INFINITE - 1)
                                : static_cast<DWORD>(ms);
        // MWMO_INPUTAVAILABLE: messages already in the queue end the sleep too.
        MsgWaitForMultipleObjectsEx(0, nullptr, sleep, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        const std::optional<int> quit = hooks.pumpOnce();
        quib::modQUIB::RethrowCallbackFailure();
        if (quit) {
            // The main loop must see it too, to end the program.
            PostQuitMessage(*quit);
            return TextWaitEnd::Quit;
        }
    }
}

}  // namespace quib::app
