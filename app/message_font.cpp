#include "app/message_font.h"

#include <cwchar>
#include <utility>

#include "platform/win32/handles.h"

namespace quib::app {

namespace {

// A memory DC with the font being measured selected into it.
class MeasuringDC {
  public:
    MeasuringDC() : dc_(CreateCompatibleDC(nullptr)) {}
    ~MeasuringDC() {
        // The DC's own font goes back in before the measured one is deleted.
        if (dc_ && original_) {
            SelectObject(dc_.Get(), original_);
        }
    }
    MeasuringDC(const MeasuringDC&) = delete;
    MeasuringDC& operator=(const MeasuringDC&) = delete;

    // Selects a new font; false when it cannot be made.
    bool Select(const LOGFONTW& lf) {
        if (!dc_) {
            return false;
        }
        platform::UniqueGdiObject<HFONT> font(CreateFontIndirectW(&lf));
        if (!font) {
            return false;
        }
        HGDIOBJ previous = SelectObject(dc_.Get(), font.Get());
        if (!original_) {
            original_ = previous;
        }
        font_ = std::move(font);
        return true;
    }
    HDC Get() const { return dc_.Get(); }

  private:
    // Destroyed in reverse order: the font after the DC it was selected into.
    platform::UniqueGdiObject<HFONT> font_;
    platform::UniqueMemoryDC dc_;
    HGDIOBJ original_ = nullptr;
};

// A font's height as the (positive) pixel height of its em; a positive
// lfHeight (a cell height) is taken as it is.
int EmPixels(const LOGFONTW& lf) {
    return lf.lfHeight < 0 ? -lf.lfHeight : lf.lfHeight;
}

LOGFONTW WithEmPixels(LOGFONTW lf, int pixels) {
    lf.lfHeight = lf.lfHeight > 0 ? pixels : -pixels;
    return lf;
}

// True when the font, as the system really gives it, is at least minEm pixels
// high (a bitmap face comes in a few sizes only, perhaps a smaller one than
// asked for) and every caption fits its room.
bool AllFit(MeasuringDC& dc, const LOGFONTW& lf, int minEm, const std::vector<CaptionRoom>& rooms) {
    TEXTMETRICW tm = {};
    if (!dc.Select(lf) || !GetTextMetricsW(dc.Get(), &tm) ||
        tm.tmHeight - tm.tmInternalLeading < minEm) {
        return false;
    }
    for (const CaptionRoom& room : rooms) {
        if (!CaptionFits(dc.Get(), room)) {
            return false;
        }
    }
    return true;
}

// True when the DC really has the face it was asked for, not a substitute.
bool HasFace(HDC dc, const wchar_t* face) {
    wchar_t got[LF_FACESIZE] = {};
    GetTextFaceW(dc, LF_FACESIZE, got);
    return _wcsicmp(got, face) == 0;
}

}  // namespace

RECT ButtonTextArea(int width, int height) {
    // The 3-D border takes its edge on each side, and the focus rectangle
    // is drawn on the pixel inside it.
    const int margin = GetSystemMetrics(SM_CXEDGE) + 1;
    return RECT{margin, margin, width - margin, height - margin};
}

bool CaptionFits(HDC dc, const CaptionRoom& room) {
    const wchar_t* text = reinterpret_cast<const wchar_t*>(room.text.c_str());
    const UINT prefix = room.accessKeys ? 0 : DT_NOPREFIX;
    if (room.kind == CaptionRoom::Kind::Button) {
        const RECT area = ButtonTextArea(room.width, room.height);
        RECT r = {0, 0, area.right - area.left, area.bottom - area.top};
        DrawTextW(dc, text, -1, &r, DT_CALCRECT | DT_SINGLELINE | prefix);
        return r.right <= area.right - area.left && r.bottom <= area.bottom - area.top;
    }
    RECT r = {0, 0, room.width, room.height};
    // As a static control draws it; a word longer than the width comes back
    // wider than the room.
    DrawTextW(dc, text, -1, &r, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | prefix);
    return r.right <= room.width && r.bottom <= room.height;
}

LOGFONTW CaptionFont(const LOGFONTW& messageFont, int dpi, const std::vector<CaptionRoom>& rooms) {
    MeasuringDC dc;
    const int systemSize = EmPixels(messageFont);
    const int designSize = MulDiv(kDesignPoints, dpi, 72);
    const int legibleSize = MulDiv(kLegiblePoints, dpi, 72);

    // 1 and 2: the message face, down to the design size.
    for (int size = systemSize; size >= designSize || size == systemSize; --size) {
        const LOGFONTW lf = WithEmPixels(messageFont, size);
        if (AllFit(dc, lf, legibleSize, rooms)) {
            return lf;
        }
    }
    // 3: the classic dialog font, where the system has it.
    LOGFONTW classic = messageFont;
    classic.lfHeight = -designSize;
    classic.lfWeight = FW_NORMAL;
    classic.lfItalic = FALSE;
    wcsncpy(classic.lfFaceName, kClassicDialogFace, LF_FACESIZE - 1);
    classic.lfFaceName[LF_FACESIZE - 1] = L'\0';
    if (dc.Select(classic) && HasFace(dc.Get(), kClassicDialogFace) &&
        AllFit(dc, classic, legibleSize, rooms)) {
        return classic;
    }
    // 4: the message face, smaller, as long as it stays legible.
    int size = systemSize < designSize ? systemSize - 1 : designSize - 1;
    for (; size >= legibleSize; --size) {
        const LOGFONTW lf = WithEmPixels(messageFont, size);
        if (AllFit(dc, lf, legibleSize, rooms)) {
            return lf;
        }
    }
    // 5: nothing fits; the smallest legible size cuts the least.
    return WithEmPixels(messageFont, systemSize < legibleSize ? systemSize : legibleSize);
}

}  // namespace quib::app
