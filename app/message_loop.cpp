#include "app/message_loop.h"

namespace quib::app {

namespace {

// The one path every message takes, in the loop and in a pending-messages pass.
void Dispatch(HWND mainWindow, MSG& msg) {
    if (mainWindow && IsWindow(mainWindow) && IsDialogMessageW(mainWindow, &msg)) {
        return;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
}

}  // namespace

int RunMessageLoop(HWND mainWindow) {
    MSG msg;
    for (;;) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            return static_cast<int>(msg.wParam);
        }
        if (got == -1) {
            return 1;
        }
        Dispatch(mainWindow, msg);
    }
}

PumpResult ProcessPendingMessages(HWND mainWindow) {
    PumpResult result;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            result.quit = true;
            result.exitCode = static_cast<int>(msg.wParam);
            return result;
        }
        Dispatch(mainWindow, msg);
    }
    return result;
}

}  // namespace quib::app
