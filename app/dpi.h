// The DPI of the screen and of a window, and the window's outer size for a
// client area at a DPI. Windows before 10 have no DPI of a window's own: there
// the system's is used.
#pragma once

#include <windows.h>

namespace quib::app {

// WM_GETDPISCALEDSIZE, sent from Windows 10 1703 on; the headers for Windows 7
// do not name it.
inline constexpr UINT kGetDpiScaledSize = 0x02E4;

// The system's DPI; 96 where the screen cannot tell.
int SystemDpi();

// The DPI that Windows gives a window on its monitor; the system's where
// Windows has no DPI of a window's own (before Windows 10).
int WindowDpi(HWND hwnd);

// The outer size of a window of these styles for a client area, with the
// frame that the system draws at frameDpi (at its own DPI where it cannot
// tell).
SIZE OuterSize(int clientWidth, int clientHeight, DWORD style, DWORD exStyle, int frameDpi);

}  // namespace quib::app
