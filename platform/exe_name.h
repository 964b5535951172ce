// The file name of the running program without folder and extension: the
// plug-in's identity towards the host library and the source of its errors.
#pragma once

#include <string>

namespace quib::platform {

// Read afresh from the system on every call; paths of any length work.
std::u16string ExecutableName();

// The running program's full path, read afresh; empty when the system cannot
// tell it.
std::u16string ExecutablePath();

// The folder part and extension are cut from a full path ('\\' and '/' both
// separate folders; the extension starts at the last '.' of the file name).
std::u16string FileTitleFromPath(std::u16string_view path);

}  // namespace quib::platform
