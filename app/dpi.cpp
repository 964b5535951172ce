#include "app/dpi.h"

#include "platform/win32/handles.h"

namespace quib::app {

namespace {

// A function of user32.dll that older Windows lack; nullptr there.
template <typename Proc>
Proc OptionalUserProc(const char* name) {
    const HMODULE user32 = GetModuleHandleW(L"user32.dll");
    return user32 ? reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(user32, name)))
                  : nullptr;
}

}  // namespace

int SystemDpi() {
    const quib::platform::UniqueWindowDC screen = quib::platform::ClientDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen.Get(), LOGPIXELSY) : 96;
    return dpi > 0 ? dpi : 96;
}

int WindowDpi(HWND hwnd) {
    using GetDpiForWindowProc = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = OptionalUserProc<GetDpiForWindowProc>("GetDpiForWindow");
    const UINT dpi = getDpiForWindow ? getDpiForWindow(hwnd) : 0;
    return dpi > 0 ? static_cast<int>(dpi) : SystemDpi();
}

SIZE OuterSize(int clientWidth, int clientHeight, DWORD style, DWORD exStyle, int frameDpi) {
    using AdjustForDpiProc = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    static const auto adjustForDpi = OptionalUserProc<AdjustForDpiProc>("AdjustWindowRectExForDpi");
    RECT r = {0, 0, clientWidth, clientHeight};
    if (!adjustForDpi || !adjustForDpi(&r, style, FALSE, exStyle, static_cast<UINT>(frameDpi))) {
        r = {0, 0, clientWidth, clientHeight};
        AdjustWindowRectEx(&r, style, FALSE, exStyle);
    }
    return {r.right - r.left, r.bottom - r.top};
}

}  // namespace quib::app
