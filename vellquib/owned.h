// Owning types for what the host libraries and their tools open and must
// give back: each closes its resource once, when it goes out of scope or is
// reset. Plain C++; the Windows kinds are in owned_win32.h. (The host
// libraries see nothing of the program's platform layer, so they have
// their own.)
#pragma once

#include <cstdio>
#include <memory>

namespace quib::standin {

struct FileCloser {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
// A file from std::fopen.
using OwnedFile = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace quib::standin
