// The list box lstAvatars as the list the avatar scan fills.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text/avatar_list.h"

namespace quib::app {

// Appends to and reads from a list box. The entries are mirrored in memory,
// so the scan's duplicate test, which reads every entry once per line, does
// not go through a window message each time; the mirror holds the names as
// they were found (NULs included), the list box shows them through
// VisibleText.
class ListBoxAvatarSink final : public text::AvatarListSink {
  public:
    // Takes over the entries the list box holds now; they are read from the
    // list box when first needed, so a scan that clears the list first never
    // reads them.
    explicit ListBoxAvatarSink(HWND list);

    void Clear() override;
    int32_t Count() const override;
    std::u16string Entry(int32_t index) const override;
    // Error 7 "Out of memory" when the list box cannot take the entry.
    void Append(const std::u16string& name) override;

  private:
    const std::vector<std::u16string>& Entries() const;

    HWND list_;
    mutable std::optional<std::vector<std::u16string>> entries_;
};

// While it lives, the list box does not redraw itself and has storage
// reserved for the entries a scan of `text` can add at most (one per line, no
// more than the list's 16-bit limit), so that thousands of entries go in at
// once. The list box is redrawn when it ends.
class ListBoxBulkFill {
  public:
    ListBoxBulkFill(HWND list, std::u16string_view text);
    ~ListBoxBulkFill();
    ListBoxBulkFill(const ListBoxBulkFill&) = delete;
    ListBoxBulkFill& operator=(const ListBoxBulkFill&) = delete;

    // The number of entries reserved for a text: its lines, capped at 32768.
    static size_t ReservedEntries(std::u16string_view text);

  private:
    HWND list_;
};

// The text of a list box entry; empty for an index that does not exist.
std::u16string ListBoxEntry(HWND list, int32_t index);

}  // namespace quib::app
