#include "tests/app/window_harness.h"

#include <cstdlib>
#include <vector>

#include "app/controls.h"
#include "platform/win32/handles.h"

namespace quib::test {

namespace {

void SetShift(bool down) {
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_SHIFT] = down ? 0x80 : 0;
    keys[VK_LSHIFT] = down ? 0x80 : 0;
    SetKeyboardState(keys);
}

}  // namespace

WindowHarness::WindowHarness() {
    FakeHost::Get().Reset();
}

WindowHarness::~WindowHarness() {
    form_.reset();
    // Leave nothing queued for the next test in this process.
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
}

frmDemoOptions WindowHarness::Options() {
    frmDemoOptions options;
    options.host = FakeHost::Get().Table();
    options.reportFatal = [this](const NumberedError& e) { fatal.push_back(e); };
    options.reportNotice = [this](const std::u16string& text) { notices.push_back(text); };
    return options;
}

bool WindowHarness::Start(frmDemoOptions options) {
    form_ = std::make_unique<frmDemo>(std::move(options));
    const bool started = form_->Start(SW_SHOWNORMAL);
    Pump();
    return started;
}

app::PumpResult WindowHarness::Pump() {
    const app::PumpResult r = app::ProcessPendingMessages(Window());
    if (r.quit) {
        quit_ = r;
    }
    return r;
}

app::PumpResult WindowHarness::PumpUntilQuit(DWORD milliseconds) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (quit_.quit) {
            return quit_;
        }
        const app::PumpResult r = Pump();
        if (r.quit || GetTickCount() - start >= milliseconds) {
            return r;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

void WindowHarness::PressKey(UINT vk, bool shift) {
    SetShift(shift);
    const UINT scan = MapVirtualKeyW(vk, MAPVK_VK_TO_VSC);
    const HWND target = GetFocus();
    PostMessageW(target, WM_KEYDOWN, vk, 1 | (scan << 16));
    PostMessageW(target, WM_KEYUP, vk, 1 | (scan << 16) | (3u << 30));
    Pump();
    SetShift(false);
}

void WindowHarness::TypeText(const std::u16string& text) {
    for (char16_t c : text) {
        PostMessageW(GetFocus(), WM_CHAR, c, 1);
        Pump();
    }
}

void WindowHarness::PressAccessKey(wchar_t key) {
    // Alt held: bit 29 of lParam. To the control with the focus, as the system
    // sends it; to the window itself when it is not the active one (when tests
    // run side by side, another test program's window may be), so that this
    // thread has no focus.
    const HWND focus = GetFocus();
    PostMessageW(focus ? focus : Window(), WM_SYSCHAR, key, 1 | (1u << 29));
    Pump();
}

void WindowHarness::Click(HWND button) {
    SendMessageW(button, BM_CLICK, 0, 0);
}

HWND WindowHarness::Focus() const {
    return app::FocusedChild(Window());
}

std::u16string WindowHarness::Text(HWND control) {
    return app::ControlText(control);
}

WindowHarness::CaptionExtent WindowHarness::MeasureCaption(HWND control) {
    RECT area;
    GetClientRect(control, &area);
    wchar_t name[16] = {};
    GetClassNameW(control, name, 16);
    const bool button = lstrcmpiW(name, L"Button") == 0;
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    UINT flags = DT_CALCRECT;
    if (button) {
        // Inside the 3-D border and clear of the focus rectangle.
        const int margin = GetSystemMetrics(SM_CXEDGE) + 1;
        InflateRect(&area, -margin, -margin);
        flags |= DT_SINGLELINE;
    } else {
        flags |= DT_WORDBREAK | DT_EXPANDTABS | ((style & SS_NOPREFIX) ? DT_NOPREFIX : 0);
    }
    const std::u16string text = Text(control);
    const quib::platform::UniqueWindowDC dc = quib::platform::ClientDC(control);
    const HGDIOBJ old =
        SelectObject(dc.Get(), reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
    RECT needed = {0, 0, area.right - area.left, 0};
    DrawTextW(dc.Get(), reinterpret_cast<const wchar_t*>(text.c_str()), -1, &needed, flags);
    SelectObject(dc.Get(), old);
    return {{needed.right - needed.left, needed.bottom - needed.top},
            {area.right - area.left, area.bottom - area.top}};
}

bool WindowHarness::SaveShot(const std::wstring& name) const {
    const wchar_t* folder = _wgetenv(L"QUIB_TEST_SHOTS");
    if (!folder || !*folder) {
        return true;
    }
    RedrawWindow(Window(), nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_FRAME | RDW_UPDATENOW);
    RECT r;
    GetWindowRect(Window(), &r);
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    // What the window's own surface holds, frame included.
    const quib::platform::UniqueWindowDC screen(GetWindowDC(Window()),
                                                quib::platform::win32_traits::WindowDC{Window()});
    const quib::platform::UniqueMemoryDC memory(CreateCompatibleDC(screen.Get()));
    const quib::platform::UniqueGdiObject<HBITMAP> bitmap(
        CreateCompatibleBitmap(screen.Get(), width, height));
    if (!memory || !bitmap) {
        return false;
    }
    const HGDIOBJ old = SelectObject(memory.Get(), bitmap.Get());
    BitBlt(memory.Get(), 0, 0, width, height, screen.Get(), 0, 0, SRCCOPY);
    SelectObject(memory.Get(), old);

    BITMAPINFOHEADER info = {};
    info.biSize = sizeof(info);
    info.biWidth = width;
    info.biHeight = height;  // bottom-up, as BMP files keep their rows
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    std::vector<char> pixels(static_cast<size_t>(stride) * static_cast<size_t>(height));
    if (!GetDIBits(memory.Get(), bitmap.Get(), 0, static_cast<UINT>(height), pixels.data(),
                   reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS)) {
        return false;
    }
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof(file) + sizeof(info);
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    const quib::platform::UniqueFileHandle out(
        CreateFileW((std::wstring(folder) + L"\\" + name).c_str(), GENERIC_WRITE, 0, nullptr,
                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return out && WriteFile(out.Get(), &file, sizeof(file), &written, nullptr) &&
           WriteFile(out.Get(), &info, sizeof(info), &written, nullptr) &&
           WriteFile(out.Get(), pixels.data(), static_cast<DWORD>(pixels.size()), &written,
                     nullptr);
}

void WindowHarness::SetText(HWND control, const std::u16string& text) {
    SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

}  // namespace quib::test
