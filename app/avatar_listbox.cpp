#include "app/avatar_listbox.h"

#include <algorithm>
#include <utility>

#include "app/visible_text.h"
#include "platform/error.h"
#include "platform/find.h"

namespace quib::app {

namespace {

// The scan raises error 6 once a list holds more than this many entries.
constexpr size_t kMaxEntries = 32768;
// Characters reserved per entry; avatar names are short.
constexpr size_t kReservedCharsPerEntry = 24;

}  // namespace

ListBoxAvatarSink::ListBoxAvatarSink(HWND list) : list_(list) {}

const std::vector<std::u16string>& ListBoxAvatarSink::Entries() const {
    if (!entries_) {
        std::vector<std::u16string> entries;
        const LRESULT count = SendMessageW(list_, LB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            entries.push_back(ListBoxEntry(list_, static_cast<int32_t>(i)));
        }
        entries_ = std::move(entries);
    }
    return *entries_;
}

void ListBoxAvatarSink::Clear() {
    SendMessageW(list_, LB_RESETCONTENT, 0, 0);
    entries_.emplace();
}

int32_t ListBoxAvatarSink::Count() const {
    return static_cast<int32_t>(Entries().size());
}

std::u16string ListBoxAvatarSink::Entry(int32_t index) const {
    const std::vector<std::u16string>& entries = Entries();
    if (index < 0 || static_cast<size_t>(index) >= entries.size()) {
        return std::u16string();
    }
    return entries[static_cast<size_t>(index)];
}

void ListBoxAvatarSink::Append(const std::u16string& name) {
    Entries();  // the entries before this one, if not read yet
    const std::u16string shown = VisibleText(name);
    const LRESULT at =
        SendMessageW(list_, LB_ADDSTRING, 0,
                     reinterpret_cast<LPARAM>(reinterpret_cast<const wchar_t*>(shown.c_str())));
    if (at == LB_ERR || at == LB_ERRSPACE) {
        throw OutOfMemoryError();
    }
    entries_->push_back(name);
}

ListBoxBulkFill::ListBoxBulkFill(HWND list, std::u16string_view text) : list_(list) {
    SendMessageW(list_, WM_SETREDRAW, FALSE, 0);
    const size_t entries = ReservedEntries(text);
    SendMessageW(list_, LB_INITSTORAGE, static_cast<WPARAM>(entries),
                 static_cast<LPARAM>(entries * kReservedCharsPerEntry * sizeof(wchar_t)));
}

ListBoxBulkFill::~ListBoxBulkFill() {
    SendMessageW(list_, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list_, nullptr, TRUE);
}

size_t ListBoxBulkFill::ReservedEntries(std::u16string_view text) {
    size_t lines = 1;
    std::u16string_view rest = text;
    for (size_t at = platform::Find(rest, u"\r\n");
         at != std::u16string_view::npos && lines < kMaxEntries;
         at = platform::Find(rest, u"\r\n")) {
        ++lines;
        rest = rest.substr(at + 2);
    }
    return std::min(lines, kMaxEntries);
}

std::u16string ListBoxEntry(HWND list, int32_t index) {
    const LRESULT length = SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == LB_ERR || length < 0) {
        return std::u16string();
    }
    std::u16string text(static_cast<size_t>(length) + 1, u'\0');
    const LRESULT copied = SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(index),
                                        reinterpret_cast<LPARAM>(text.data()));
    text.resize(copied == LB_ERR || copied < 0 ? 0 : static_cast<size_t>(copied));
    return text;
}

}  // namespace quib::app
