// The text-buffer commands of frmDemo: fetching the host's text buffer and
// picking an avatar from the list.
#include <windows.h>

#include "app/frmDemo.h"

namespace {

// lstAvatars as the list the speaker extraction fills.
class ListBoxSink : public quib::text::AvatarListSink {
  public:
    explicit ListBoxSink(HWND list) : list_(list) {}
    void Clear() override { SendMessageW(list_, LB_RESETCONTENT, 0, 0); }
    int32_t Count() const override {
        return static_cast<int32_t>(SendMessageW(list_, LB_GETCOUNT, 0, 0));
    }
    std::u16string Entry(int32_t index) const override {
        const LRESULT length = SendMessageW(list_, LB_GETTEXTLEN, index, 0);
        if (length <= 0) {
            return std::u16string();
        }
        std::u16string text(static_cast<size_t>(length) + 1, u'\0');
        const LRESULT got =
            SendMessageW(list_, LB_GETTEXT, index, reinterpret_cast<LPARAM>(text.data()));
        text.resize(got > 0 ? static_cast<size_t>(got) : 0);
        return text;
    }
    void Append(const std::u16string& name) override {
        SendMessageW(list_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    }

  private:
    HWND list_;
};

}  // namespace

void frmDemo::cmdGetText_Click() {}

void frmDemo::lstAvatars_Click() {}

void frmDemo::FillAvatarList(std::u16string sText) {
    ListBoxSink list(lstAvatars);
    quib::text::FillAvatarList(tokenizer_, list, std::move(sText));
}

bool frmDemo::IsInList(std::u16string sName) {
    ListBoxSink list(lstAvatars);
    return quib::text::IsInList(std::move(sName), list);
}
