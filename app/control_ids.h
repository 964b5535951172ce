// Control identifiers of the main window, shared with the tests that drive
// the window from outside. Numbered in the order the window creates them.
#pragma once

enum ControlId : int {
    IDC_fraInfo = 1001,
    IDC_lblInfo = 1002,
    IDC_cmdQuibUnregister = 1003,
    IDC_cmdQuibRegister = 1004,
    IDC_cmdExit = 1005,
    IDC_cmdGetText = 1006,
    IDC_cmdCommunicate = 1007,
    IDC_lstAvatars = 1008,
    IDC_txtVellText = 1009,
    IDC_fra1 = 1010,
    IDC_txtText = 1011,
    IDC_cboCommunicationMode = 1012,
    IDC_txtAvatar = 1013,
    IDC_Mode = 1014,
    IDC_lblText = 1015,
    IDC_lblAvatar = 1016,
    IDC_lblAvatars = 1017,
    IDC_lblVellText = 1018,
};

// The window class of frmDemo, so that outside tools can find the window.
#define QUIBDEMO_WINDOW_CLASS L"QuibDemo.frmDemo"
// The window's caption.
#define QUIBDEMO_CAPTION L"Tolvik's Vell QUIB Demo"
