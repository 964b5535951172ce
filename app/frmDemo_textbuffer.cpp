// The text-buffer commands of frmDemo: fetching the host's text buffer and
// picking an avatar from the list.
#include <windows.h>

#include <chrono>
#include <optional>
#include <string>
#include <utility>

#include "app/avatar_listbox.h"
#include "app/frmDemo.h"
#include "app/message_loop.h"
#include "app/text_wait.h"
#include "app/visible_text.h"
#include "bridge/modQUIB.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// The wait cursor for as long as it lives; the cursor before it afterwards,
// also when an error ends the work early. Nothing is pumped meanwhile, so the
// window's WM_SETCURSOR cannot take it back before the end.
class WaitCursor {
  public:
    WaitCursor() : previous_(SetCursor(LoadCursorW(nullptr, IDC_WAIT))) {}
    ~WaitCursor() { SetCursor(previous_); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

  private:
    HCURSOR previous_;
};

}  // namespace

namespace quib {

void frmDemo::cmdGetText_Click() {
    const Clock::time_point start = Clock::now();
    quib::modQUIB::ClearTextBuffer();
    // Deliveries are counted from here, so one that comes during the request
    // ends the wait as well as a later one.
    const uint32_t deliveriesMark = quib::modQUIB::State().gTextDeliveries;
    const quib::modQUIB::RequestOutcome request = quib::modQUIB::GetAllText();
    if (!request.completed) {
        // No text is coming for a request the host never took on.
        Notice(
            u"The host did not complete the request for its text buffer: it was still "
            u"answering with status \"" +
            request.lastStatus + u"\" after " + quib::Decimal(request.calls) +
            u" attempts, so the request was given up. The text shown is that of the "
            u"previous fetch.");
        return;
    }
    const Clock::time_point requested = Clock::now();

    // The wait processes the window's events the way the main loop does, so
    // every control stays usable; a second fetch started from here runs nested
    // and ends first.
    quib::app::TextWaitHooks hooks;
    const HWND window = hwnd_;
    hooks.pumpOnce = [window]() -> std::optional<int> {
        const quib::app::PumpResult pass = quib::app::ProcessPendingMessages(window);
        return pass.quit ? std::optional<int>(pass.exitCode) : std::nullopt;
    };
    hooks.windowClosed = [this] { return destroying_ || hwnd_ == nullptr; };
    const quib::app::TextWaitEnd end =
        quib::app::WaitForText(deliveriesMark, options_.textWaitTimeout, hooks);
    switch (end) {
        case quib::app::TextWaitEnd::Text:
            break;
        case quib::app::TextWaitEnd::EmptyDelivery:
            // The host's buffer is empty (or its trimming left nothing): show
            // that. The scan is never given an empty text.
            SetVellText(std::u16string());
            quib::app::ListBoxAvatarSink(lstAvatars).Clear();
            return;
        case quib::app::TextWaitEnd::TimedOut:
            Notice(u"The host client sent no text within " +
                   quib::Decimal(
                       std::chrono::ceil<std::chrono::seconds>(options_.textWaitTimeout).count()) +
                   u" seconds. The text shown is that of the previous fetch.");
            return;
        case quib::app::TextWaitEnd::WindowClosed:
        case quib::app::TextWaitEnd::Quit:
            // The window is gone or the program is ending: nothing to show.
            return;
    }
    const Clock::time_point arrived = Clock::now();

    // A large text takes the edit control and the scan a while.
    const WaitCursor busy;
    // Read in place: nothing below processes window events, so no delivery
    // can replace the buffer while it is shown and scanned.
    const std::u16string& text = quib::modQUIB::State().gTextBuffer;
    // The control's text would end at a NUL; the text itself keeps them. A
    // copy is made only for a text that holds one.
    std::u16string visible;
    const bool hasNul = quib::app::HasNul(text);
    if (hasNul) {
        visible = quib::app::VisibleText(text);
    }
    const Clock::time_point madeVisible = Clock::now();
    SetVellText(hasNul ? visible : text);
    const Clock::time_point shown = Clock::now();
    // Shown first: an error in the scan leaves the new text in view.
    FillAvatarList(text);
    const Clock::time_point listed = Clock::now();
    lastFetchTimings_ = {Seconds(requested - start), Seconds(arrived - requested),
                         Seconds(madeVisible - arrived), Seconds(shown - madeVisible),
                         Seconds(listed - shown)};
}

void frmDemo::lstAvatars_Click() {
    const int16_t index = quib::NarrowTo16(SendMessageW(lstAvatars, LB_GETCURSEL, 0, 0));
    if (index < 0) {
        return;  // no entry selected: txtAvatar keeps its text
    }
    // Its Change runs the enable rule of cmdCommunicate.
    SetControlText(txtAvatar, quib::app::ListBoxEntry(lstAvatars, index));
}

void frmDemo::SetVellText(const std::u16string& shown) {
    // No limit: the host's buffer can be many megabytes long.
    SendMessageW(txtVellText, EM_SETLIMITTEXT, 0, 0);
    SetControlText(txtVellText, shown);
}

void frmDemo::FillAvatarList(std::u16string_view sText) {
    // Without redrawing and with storage reserved, thousands of entries go in
    // at once.
    quib::app::ListBoxBulkFill bulk(lstAvatars, sText);
    quib::app::ListBoxAvatarSink list(lstAvatars);
    quib::text::FillAvatarList(tokenizer_, list, sText);
}

bool frmDemo::IsInList(std::u16string sName) {
    const quib::app::ListBoxAvatarSink list(lstAvatars);
    return quib::text::IsInList(std::move(sName), list);
}

}  // namespace quib
