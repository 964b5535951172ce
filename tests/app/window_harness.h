// Drives frmDemo in-process: creates it against the fake host with reporters
// that record instead of showing message boxes, and feeds it real window
// messages through the program's own message path.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "app/frmDemo.h"
#include "app/message_loop.h"
#include "tests/support/fake_host.h"

namespace quib::test {

class WindowHarness {
  public:
    WindowHarness();  // resets the fake host
    ~WindowHarness();

    // The options of a window under test: the fake host's table and
    // recording reporters.
    frmDemoOptions Options();
    // Creates and starts the window; returns Start()'s result.
    bool Start(frmDemoOptions options);
    bool Start() { return Start(Options()); }

    frmDemo& Form() { return *form_; }
    HWND Window() const { return form_ ? form_->Handle() : nullptr; }

    // Processes every pending message once, through the program's path.
    app::PumpResult Pump();
    // Pumps until WM_QUIT or the time is up; returns the quit, also one that
    // an earlier pass took off the queue.
    app::PumpResult PumpUntilQuit(DWORD milliseconds = 2000);

    // Keyboard input as it arrives from the system: the messages are posted
    // to the focused control and pass through IsDialogMessage.
    void PressKey(UINT vk, bool shift = false);
    void TypeText(const std::u16string& text);
    void PressAccessKey(wchar_t key);  // Alt+key
    void Click(HWND button);           // BM_CLICK

    // A control's caption drawn with the control's own font, as the control
    // draws it (one line in a button, wrapped in a label), beside the area
    // the control has for it, both in pixels.
    struct CaptionExtent {
        SIZE needed;
        SIZE area;
        bool Fits() const { return needed.cx <= area.cx && needed.cy <= area.cy; }
    };
    static CaptionExtent MeasureCaption(HWND control);

    // Writes what the screen shows of the window, frame included, as a 24-bit
    // BMP file when QUIB_TEST_SHOTS names a folder (nothing otherwise), for a
    // person to look at; false when that failed.
    bool SaveShot(const std::wstring& name) const;

    // The child of the window that has the focus (a combo box, not its parts).
    HWND Focus() const;
    static std::u16string Text(HWND control);
    static void SetText(HWND control, const std::u16string& text);

    std::vector<NumberedError> fatal;
    std::vector<std::u16string> notices;

  private:
    std::unique_ptr<frmDemo> form_;
    app::PumpResult quit_;
};

}  // namespace quib::test
