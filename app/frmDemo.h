// frmDemo: the program's one window.
//
// It is created, loaded (information text, mode list, host link) and shown by
// Start(); it owns its eighteen controls, the font they share and the loaded
// host library. Its event handlers are named after control and event, the way
// the window's designer named them; WindowProc routes Windows' notifications
// to them.
//
// Error convention: a quib::NumberedError (or any other exception, turned into
// one) that escapes a handler is caught where Windows called the window, the
// host link is closed if open, the error is reported through the fatal
// reporter, the window is destroyed and the program ends with exit code 1.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "bridge/host_loader.h"
#include "bridge/host_table.h"
#include "platform/ascii.h"
#include "platform/error.h"
#include "platform/win32/handles.h"
#include "text/avatar_list.h"
#include "text/tokenizer.h"

namespace quib {

// The application title: every message box of the program carries it.
inline constexpr wchar_t kAppTitle[] = L"Vell QUIB Demo";

// How long "&Get Vell Text" waits for the host to deliver a text buffer.
inline constexpr std::chrono::milliseconds kTextWaitTimeout{15000};

// How a frmDemo is made. The defaults are the real program's.
struct frmDemoOptions {
    // The host library's table; when absent, vellquib.dll is loaded from the
    // program's folder when the window loads.
    std::optional<modQUIB::HostTable> host;
    // Shows an error that ends the program. Default: a message box titled
    // "Vell QUIB Demo" with the error's number and description.
    std::function<void(const NumberedError&)> reportFatal;
    // Tells the user something without ending the program (a request the host
    // did not complete, no text arriving). Default: a message box titled
    // "Vell QUIB Demo".
    std::function<void(const std::u16string&)> reportNotice;
    // The longest "&Get Vell Text" waits for a delivery.
    std::chrono::milliseconds textWaitTimeout = kTextWaitTimeout;
    HINSTANCE instance = nullptr;  // nullptr: the running executable
    // Dots per inch for turning twips into pixels at start; 0: the window's
    // on its monitor (the system's where Windows cannot tell). WM_DPICHANGED
    // sets a new one.
    int dpi = 0;
    // The message font as the system would give it (at the system's DPI);
    // absent: the system's.
    std::optional<LOGFONTW> messageFont;
};

class frmDemo {
  public:
    explicit frmDemo(frmDemoOptions options = {});
    ~frmDemo();
    frmDemo(const frmDemo&) = delete;
    frmDemo& operator=(const frmDemo&) = delete;

    // Creates the window, loads it and shows it with showCommand. Returns
    // false when start-up failed: the error has then been reported, the
    // window was never shown and no longer exists, and ExitCode() is non-zero.
    bool Start(int showCommand = SW_SHOWDEFAULT);

    // The window; nullptr before Start() and after it is destroyed.
    HWND Handle() const { return hwnd_; }
    // The code the program ends with: 0 after a normal unload, 1 after an
    // error.
    int ExitCode() const { return exitCode_; }
    // How often the enable rule of "&Communicate" has run (diagnostics).
    uint32_t EnableRuleRuns() const { return enableRuleRuns_; }

    // Where the time of the last fetch that showed a text went: the request
    // (with the decoding and trimming of a text delivered during it), the
    // wait, making the NULs visible, txtVellText taking the text, and filling
    // lstAvatars (the scan included).
    struct FetchTimings {
        double requestSeconds = 0;
        double waitSeconds = 0;
        double visibleSeconds = 0;
        double editSeconds = 0;
        double listSeconds = 0;
    };
    const FetchTimings& LastFetchTimings() const { return lastFetchTimings_; }

    // Cuts the next piece off a text (see quib::text::LineTokenizer).
    std::u16string GetToken(std::u16string sText, std::u16string sDelimiter);

    // The controls, in the order the window creates them.
    HWND fraInfo = nullptr;
    HWND lblInfo = nullptr;
    HWND cmdQuibUnregister = nullptr;
    HWND cmdQuibRegister = nullptr;
    HWND cmdExit = nullptr;
    HWND cmdGetText = nullptr;
    HWND cmdCommunicate = nullptr;
    HWND lstAvatars = nullptr;
    HWND txtVellText = nullptr;
    HWND fra1 = nullptr;
    HWND txtText = nullptr;
    HWND cboCommunicationMode = nullptr;
    HWND txtAvatar = nullptr;
    HWND Mode = nullptr;
    HWND lblText = nullptr;
    HWND lblAvatar = nullptr;
    HWND lblAvatars = nullptr;
    HWND lblVellText = nullptr;

  private:
    // --- Event handlers ------------------------------------------------------
    void Form_Load();
    void Form_Unload();
    // The window was moved to a monitor of another DPI, or the monitor's
    // scale changed: the controls are laid out and the font chosen again at
    // the new DPI, and the window goes where the system suggests.
    void Form_DpiChanged(int dpi, const RECT& suggested);
    void cmdExit_Click();
    // frmDemo_communicate.cpp
    void cboCommunicationMode_Click();
    void txtText_Change();
    void txtAvatar_Change();
    void cmdCommunicate_Click();
    void cmdQuibRegister_Click();
    void cmdQuibUnregister_Click();
    // frmDemo_textbuffer.cpp
    void cmdGetText_Click();
    void lstAvatars_Click();

    // --- Private procedures --------------------------------------------------
    // Enables cmdCommunicate as app::CommunicateEnabled says
    // (frmDemo_communicate.cpp).
    void UpdateCommunicateButton();
    // Rebuilds lstAvatars from the speakers of a text buffer. The text is
    // read in place and left unchanged, as a copy would be.
    void FillAvatarList(std::u16string_view sText);
    // True when lstAvatars holds the name, compared without regard to case.
    bool IsInList(std::u16string sName);

    // --- Helpers for the handlers -------------------------------------------
    // Replaces the whole text of a control (WM_SETTEXT, so that the control's
    // change notification follows as for typed text).
    static void SetControlText(HWND control, const std::u16string& text);
    // Replaces the content of txtVellText with a text as VisibleText shows it
    // (frmDemo_textbuffer.cpp).
    void SetVellText(const std::u16string& shown);
    // Tells the user something that does not end the program.
    void Notice(const std::u16string& text);
    // Unloads the window: Form_Unload, then the window is destroyed.
    void Unload();

    // --- Window plumbing (frmDemo.cpp) ---------------------------------------
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    // Hands each message the window handles to its handler below.
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT OnCommand(UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT OnNextDlgCtl(WPARAM wParam, LPARAM lParam);
    LRESULT OnActivate(WPARAM wParam);
    LRESULT OnSetFocus();
    LRESULT OnClose();
    LRESULT OnQueryEndSession();
    LRESULT OnEndSession(WPARAM ending);
    LRESULT OnGetDpiScaledSize(WPARAM wParam, LPARAM lParam);
    LRESULT OnDpiChanged(WPARAM wParam, LPARAM lParam);
    LRESULT OnDestroy();
    LRESULT OnNcDestroy(WPARAM wParam, LPARAM lParam);
    // Runs the handler of a control's notification, if it has one.
    void RouteCommand(int id, int code);
    // Gives the focus back to the control that last had it, or to txtAvatar.
    void RestoreFocus();
    // The member that holds the control of an id.
    HWND& ControlHandle(int id);
    void CreateControls();
    // Sizes the window so that its client area holds the layout at the
    // current DPI: put at the suggested rectangle, or kept in its place.
    void FitWindow(const RECT* suggested);
    int Pixels(int twips) const;
    void NextControl(WPARAM wParam, LPARAM lParam);
    // Runs a handler under the error convention; false when it failed.
    template <typename Body>
    bool RunReportingFailure(Body&& body) noexcept;
    // Fails with the error that makeError() makes, or with a bare error 7 when
    // not even that can be made.
    template <typename MakeError>
    void FailWith(MakeError&& makeError) noexcept;
    void Fail(const NumberedError& error) noexcept;
    void CloseHostLink();

    frmDemoOptions options_;
    HWND hwnd_ = nullptr;
    platform::UniqueGdiObject<HFONT> font_;
    int dpi_ = 96;
    std::unique_ptr<modQUIB::HostLibrary> library_;
    text::LineTokenizer tokenizer_;
    bool linkOpen_ = false;    // InitDDE succeeded and KillDDE not yet called
    bool running_ = false;     // shown; the message loop ends the program
    bool failed_ = false;      // an error has been reported
    bool destroying_ = false;  // inside DestroyWindow of the main window
    int exitCode_ = 0;
    uint32_t enableRuleRuns_ = 0;
    HWND lastFocus_ = nullptr;  // restored when the window is activated again
    FetchTimings lastFetchTimings_;
};

}  // namespace quib
