// An avatar list held in a vector, standing in for the window's list box.
#pragma once

#include <string>
#include <vector>

#include "text/avatar_list.h"

namespace quib::text::test {

class VectorSink : public AvatarListSink {
  public:
    void Clear() override { entries.clear(); }
    int32_t Count() const override { return static_cast<int32_t>(entries.size()); }
    std::u16string Entry(int32_t index) const override {
        return entries.at(static_cast<size_t>(index));
    }
    void Append(const std::u16string& name) override { entries.push_back(name); }

    std::vector<std::u16string> entries;
};

}  // namespace quib::text::test
