// The host's bytes as the text callback receives them: decoded, cut before
// the frame, trimmed of trailing line ends, then cut into lines and turned
// into the avatar list, the fast way and the literal way. Short buffers
// (run.sh caps them), so that the literal way stays cheap; the 16-bit limits
// have a target of their own (text_limits_fuzz.cpp).
#include <clocale>
#include <cstddef>
#include <cstdint>

#include "fuzz/differential.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A UTF-8 system code page: multi-byte sequences, undecodable bytes and
    // letters beyond ASCII that have a lower case.
    std::setlocale(LC_ALL, "C.UTF-8");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    quib::fuzz::CheckHostBuffer(reinterpret_cast<const char*>(data), size);
    return 0;
}
