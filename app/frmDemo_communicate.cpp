// The communicate commands of frmDemo: the enable rule of "&Communicate",
// sending a line, registering and unregistering with the host.
#include <windows.h>

#include <string>

#include "app/communicate_rule.h"
#include "app/controls.h"
#include "app/frmDemo.h"
#include "bridge/modQUIB.h"

namespace quib {

void frmDemo::cboCommunicationMode_Click() {
    UpdateCommunicateButton();
}

void frmDemo::txtText_Change() {
    UpdateCommunicateButton();
}

void frmDemo::txtAvatar_Change() {
    UpdateCommunicateButton();
}

void frmDemo::cmdCommunicate_Click() {
    const int16_t mode = NarrowTo16(SendMessageW(cboCommunicationMode, CB_GETCURSEL, 0, 0));
    const std::u16string avatar = app::ControlText(txtAvatar);
    const std::u16string line = app::ControlText(txtText);
    const modQUIB::RequestOutcome outcome = modQUIB::Communicate(mode, avatar, line);
    if (!outcome.completed) {
        Notice(u"The host did not complete the request: it was still answering with status \"" +
               outcome.lastStatus + u"\" after " + Decimal(outcome.calls) +
               u" attempts, so the request was given up. The line may not have been sent.");
    }
}

void frmDemo::cmdQuibRegister_Click() {
    modQUIB::QuibRegister();
}

void frmDemo::cmdQuibUnregister_Click() {
    modQUIB::QuibUnregister();
}

void frmDemo::UpdateCommunicateButton() {
    ++enableRuleRuns_;
    const int16_t mode = NarrowTo16(SendMessageW(cboCommunicationMode, CB_GETCURSEL, 0, 0));
    const bool enabled = app::CommunicateEnabled(mode, !app::ControlText(txtAvatar).empty(),
                                                 !app::ControlText(txtText).empty());
    if (!enabled && app::FocusedChild(hwnd_) == cmdCommunicate) {
        // A disabled button cannot keep the focus: pass it on.
        NextControl(0, 0);
    }
    EnableWindow(cmdCommunicate, enabled ? TRUE : FALSE);
}

}  // namespace quib
