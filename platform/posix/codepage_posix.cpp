// POSIX half of the code-page conversion: the locale's charset stands in for
// the Windows system code page.
#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <cstring>

#include "platform/codepage.h"

namespace quib::platform {

namespace {

class Iconv {
  public:
    Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Iconv() {
        if (ok()) {
            iconv_close(cd_);
        }
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

  private:
    iconv_t cd_;
};

const char* Charset() {
    const char* cs = nl_langinfo(CODESET);
    return cs && *cs ? cs : "ASCII";
}

bool IsAscii(std::string_view bytes) {
    for (char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

void DecodeInto(std::string_view bytes, std::u16string& out) {
    if (IsAscii(bytes)) {
        out.assign(bytes.begin(), bytes.end());
        return;
    }
    Iconv conv("UTF-16LE", Charset());
    if (!conv.ok()) {
        for (char c : bytes) {
            out.push_back(static_cast<unsigned char>(c) < 0x80 ? static_cast<char16_t>(c)
                                                               : u'\uFFFD');
        }
        return;
    }
    // The units go straight into the result. One unit a byte is enough for
    // UTF-8 and every single-byte charset; the result grows for the others.
    out.resize(bytes.size() + 1);
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    size_t used = 0;  // bytes of the result written so far
    while (inLeft > 0) {
        char* dst = reinterpret_cast<char*>(out.data()) + used;
        size_t dstLeft = out.size() * 2 - used;
        const size_t done = iconv(conv.get(), &in, &inLeft, &dst, &dstLeft);
        used = out.size() * 2 - dstLeft;
        if (done != static_cast<size_t>(-1)) {
            break;
        }
        const bool undecodable = errno == EILSEQ || errno == EINVAL;
        if (errno == E2BIG || (undecodable && dstLeft < 2)) {
            out.resize(out.size() + inLeft * 2 + 2);
        } else if (undecodable) {
            // An undecodable or truncated sequence: one replacement character
            // for its first byte, then go on with the next byte.
            const char16_t repl = u'\uFFFD';
            std::memcpy(reinterpret_cast<char*>(out.data()) + used, &repl, 2);
            used += 2;
            ++in;
            --inLeft;
            iconv(conv.get(), nullptr, nullptr, nullptr, nullptr);
        } else {
            break;
        }
    }
    out.resize(used / 2);
}

}  // namespace

std::u16string DecodeSystemCodePage(std::string_view bytes) {
    std::u16string out;
    DecodeSystemCodePage(bytes, out);
    return out;
}

void DecodeSystemCodePage(std::string_view bytes, std::u16string& out) {
    out.clear();
    try {
        DecodeInto(bytes, out);
    } catch (...) {
        out.clear();  // no half-decoded text
        throw;
    }
}

std::string EncodeSystemCodePage(std::u16string_view text) {
    bool ascii = true;
    for (char16_t c : text) {
        ascii = ascii && c < 0x80;
    }
    if (ascii) {
        return std::string(text.begin(), text.end());
    }
    std::string out;
    Iconv conv(Charset(), "UTF-16LE");
    if (!conv.ok()) {
        for (char16_t c : text) {
            out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
        }
        return out;
    }
    // Character by character, so that one that does not convert becomes '?'.
    char buf[16];
    for (size_t i = 0; i < text.size(); ++i) {
        size_t units = 1;
        if (text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() &&
            text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            units = 2;
        }
        char* in = reinterpret_cast<char*>(const_cast<char16_t*>(text.data() + i));
        size_t inLeft = units * 2;
        char* dst = buf;
        size_t dstLeft = sizeof buf;
        if (iconv(conv.get(), &in, &inLeft, &dst, &dstLeft) == static_cast<size_t>(-1)) {
            iconv(conv.get(), nullptr, nullptr, nullptr, nullptr);
            out.push_back('?');
        } else {
            out.append(buf, static_cast<size_t>(dst - buf));
        }
        i += units - 1;
    }
    return out;
}

}  // namespace quib::platform
