// The program's message loop, and the one-pass variant that a waiting handler
// runs between its tests.
//
// Both pass every message through IsDialogMessage for the main window first,
// so that Tab, Shift+Tab and access keys work in the top-level window as in a
// dialog, and take the same path for everything else.
#pragma once

#include <windows.h>

namespace quib::app {

// Runs until WM_QUIT arrives and returns its exit code.
int RunMessageLoop(HWND mainWindow);

// What a pass of ProcessPendingMessages saw.
struct PumpResult {
    bool quit = false;  // WM_QUIT was taken off the queue
    int exitCode = 0;   // its exit code, when quit
};

// Processes every message that is pending now, then returns. Stops at WM_QUIT
// and reports it: the caller must end its wait and re-post the quit
// (PostQuitMessage(result.exitCode)) so that the outer loop ends the program.
PumpResult ProcessPendingMessages(HWND mainWindow);

}  // namespace quib::app
