// Drives the real QuibDemo.exe from outside, as a user would: starts it from
// the test program's folder, finds its window and controls, types, picks,
// clicks and reads the controls back. Every wait is bounded; a program that
// hangs or is still running at the end is killed and reported.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/win32/handles.h"

namespace quib::e2e {

class DemoDriver {
  public:
    // Variables set for the started program (and unset again afterwards).
    explicit DemoDriver(std::map<std::wstring, std::wstring> environment = {});
    // Kills the program when it still runs.
    ~DemoDriver();
    DemoDriver(const DemoDriver&) = delete;
    DemoDriver& operator=(const DemoDriver&) = delete;

    // Starts QuibDemo.exe. With waitForWindow, also waits for its main window
    // to be visible. False, with Failure() saying why, when that fails.
    bool Start(bool waitForWindow = true);

    // What went wrong so far (empty: nothing). Every failed wait adds to it.
    const std::wstring& Failure() const { return failure_; }
    // Records a failure found by the test itself.
    void Fail(const std::wstring& what);

    HWND Window() const { return window_; }
    // The program's visible main window, looked up now; nullptr when none.
    HWND FindMainWindow() const;
    // A control of the main window by its id, searched among all descendants.
    HWND Control(int id) const;

    // --- Reading ---
    std::wstring Text(int id);
    bool Enabled(int id);
    int ComboSelection(int id);
    std::vector<std::wstring> ListItems(int id);

    // --- Acting ---
    // Gives the control the keyboard focus (best effort).
    void Focus(int id);
    // Types text into an edit control, one WM_CHAR per character.
    void Type(int id, const std::wstring& text);
    // Selects the whole text of an edit control and deletes it with Backspace.
    void Clear(int id);
    // A key pressed and released on a control (e.g. VK_DOWN on the mode list).
    void Key(int id, WORD vk);
    // A button click, posted: the handler may wait inside for a delivery.
    void Click(int id);
    // A click with the mouse on the entry at index of a list box.
    void ClickListItem(int id, int index);

    // --- Waiting ---
    // Polls pred until it holds, the program ends or shows a message box, or
    // ms pass. On failure, records what, with the description.
    bool WaitFor(const std::function<bool()>& pred, DWORD ms, const std::wstring& what);
    // The same without recording a time-out (other failures are recorded).
    bool Poll(const std::function<bool()>& pred, DWORD ms);
    // Waits for the program to end; its exit code goes to *code.
    bool WaitForExit(DWORD ms, DWORD* code);
    bool Running() const;

    // The title and texts of a message box the program shows, or empty.
    std::wstring MessageBoxText();
    // Presses the first button of the program's message box.
    bool DismissMessageBox();

    // The folder of the running test program, with a trailing backslash.
    static std::wstring OwnFolder();

  private:
    // SendMessageTimeout; a program that does not answer in time is killed.
    LRESULT Send(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    HWND FindMessageBox() const;
    void Kill();

    std::map<std::wstring, std::wstring> environment_;
    PROCESS_INFORMATION process_{};
    // The owners of process_'s two handles.
    platform::UniqueKernelHandle processHandle_;
    platform::UniqueKernelHandle threadHandle_;
    HWND window_ = nullptr;
    std::wstring failure_;
};

}  // namespace quib::e2e
