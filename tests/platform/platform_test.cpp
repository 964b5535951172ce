#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <utility>
#include <vector>

#include "platform/codepage.h"
#include "platform/error.h"
#include "platform/exe_name.h"
#include "platform/lowercase.h"
#include "platform/unique_handle.h"
#ifdef _WIN32
#include "platform/win32/handles.h"
#endif

namespace quib::platform {
namespace {

TEST(CodePage, AsciiRoundTripsWithEmbeddedNuls) {
    const std::string bytes("a\0b\r\n\0", 6);
    const std::u16string text = DecodeSystemCodePage(bytes);
    EXPECT_EQ(text, std::u16string(u"a\0b\r\n\0", 6));
    EXPECT_EQ(EncodeSystemCodePage(text), bytes);
}

TEST(CodePage, NonAsciiRoundTripsThroughTheSystemCodePage) {
#ifndef _WIN32
    std::setlocale(LC_ALL, "C.UTF-8");
#endif
    const std::u16string zoe = u"Zo\u00EB";
    const std::string bytes = EncodeSystemCodePage(zoe);
#ifdef _WIN32
    // The test prefix runs with code page 1252.
    EXPECT_EQ(bytes, "Zo\xEB");
#endif
    EXPECT_EQ(DecodeSystemCodePage(bytes), zoe);
}

TEST(CodePage, UndecodableBytesBecomeReplacementCharactersNotLostText) {
#ifndef _WIN32
    std::setlocale(LC_ALL, "C.UTF-8");
    // A lone continuation byte and a truncated sequence at the end.
    const std::u16string text = DecodeSystemCodePage("a\x80z\xC3");
    EXPECT_EQ(text, u"a\uFFFDz\uFFFD");
#else
    // Every byte decodes in code page 1252; none may vanish.
    EXPECT_EQ(DecodeSystemCodePage("a\x81z").size(), 3u);
#endif
}

TEST(CodePage, UnrepresentableCharactersEncodeAsQuestionMarks) {
#ifndef _WIN32
    std::setlocale(LC_ALL, "C");
#endif
    EXPECT_EQ(EncodeSystemCodePage(u"a\u4E2Db"), "a?b");
}

TEST(CodePage, LargeBufferDecodesWhole) {
    std::string big(8 << 20, 'x');
    big[12345] = '\0';
    const std::u16string text = DecodeSystemCodePage(big);
    ASSERT_EQ(text.size(), big.size());
    EXPECT_EQ(text[12345], u'\0');
    EXPECT_EQ(text.back(), u'x');
}

TEST(ExeName, FileTitleDropsFolderAndExtension) {
    struct Case {
        std::u16string_view path, title;
    };
    const Case cases[] = {
        {u"C:\\Program Files\\Quib\\QuibDemo.exe", u"QuibDemo"},
        {u"/opt/q/QuibDemo", u"QuibDemo"},
        {u"C:\\a.b\\plug.in.exe", u"plug.in"},
        {u"NoExtension", u"NoExtension"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FileTitleFromPath(c.path), c.title);
    }
}

TEST(ExeName, NamesTheRunningTestProgram) {
    EXPECT_EQ(ExecutableName(), u"platform_tests");
}

TEST(LowerCase, KeepsLengthAndLowersLetters) {
    EXPECT_EQ(LowerCaseUser(u"Bob BOB bOb 12:30 <System>"), u"bob bob bob 12:30 <system>");
    const std::u16string pair = u"\U0001F600X";
    EXPECT_EQ(LowerCaseUser(pair), u"\U0001F600x");
}

TEST(LowerCase, NonAsciiLettersFollowTheLocale) {
#ifndef _WIN32
    std::setlocale(LC_ALL, "C.UTF-8");
#endif
    EXPECT_EQ(LowerCaseUser(u"ZO\u00CB"), u"zo\u00EB");
}

TEST(Error, NarrowTo16RaisesOverflowOutsideTheRange) {
    EXPECT_EQ(NarrowTo16(32767), 32767);
    EXPECT_EQ(NarrowTo16(-32768), -32768);
    for (int64_t v : {32768LL, -32769LL, 1LL << 40}) {
        try {
            NarrowTo16(v);
            ADD_FAILURE() << v;
        } catch (const NumberedError& e) {
            EXPECT_EQ(e.Number(), 6);
            EXPECT_EQ(e.Description(), u"Overflow");
            EXPECT_EQ(e.Source(), u"platform_tests");
        }
    }
}

// A kind of handle for the test: numbers, -1 for none. Each close is logged
// with the name its traits carry, as a device context carries its window.
using CloseLog = std::vector<std::pair<char, int>>;
struct LoggedHandle {
    using pointer = int;
    static int Invalid() noexcept { return -1; }
    void Close(int handle) const noexcept { log->emplace_back(name, handle); }
    CloseLog* log = nullptr;
    char name = '?';
};

TEST(UniqueHandle, EachHandleIsClosedOnceByItsOwnTraitsUnlessReleased) {
    using Handle = UniqueHandle<LoggedHandle>;
    CloseLog log;
    {
        Handle a(1, {&log, 'a'});
        Handle b(std::move(a));  // b owns 1 now, with a's traits
        EXPECT_FALSE(a);
        EXPECT_EQ(b.Get(), 1);
        Handle c(2, {&log, 'c'});
        c = std::move(b);  // 2 closed as c's, 1 moves over with its traits
        EXPECT_EQ(log, (CloseLog{{'c', 2}}));
        Handle& same = c;
        c = std::move(same);  // moving onto itself keeps the handle
        EXPECT_EQ(c.Get(), 1);

        EXPECT_EQ(c.Release(), 1);  // given up: never closed
        EXPECT_FALSE(c);
        c.Reset(3);
        c.Reset(4);  // 3 closed, 4 kept
        Handle none(-1, {&log, 'n'});
        none.Reset();     // nothing to close
        *none.Put() = 5;  // filled in as an out-parameter
        EXPECT_TRUE(none);
    }
    // At the end of the scope: 5, then 4; the moved-from and released ones
    // close nothing.
    EXPECT_EQ(log, (CloseLog{{'c', 2}, {'a', 3}, {'n', 5}, {'a', 4}}));
}

#ifdef _WIN32
TEST(UniqueHandle, Win32KindsCloseTheirHandlesAndKnowTheirEmptyValue) {
    HANDLE raw = nullptr;
    {
        const UniqueKernelHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        ASSERT_TRUE(event);
        raw = event.Get();
        DWORD flags = 0;
        EXPECT_TRUE(GetHandleInformation(raw, &flags));
    }
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(raw, &flags)) << "closed with its owner";
    // CreateFile's failure is INVALID_HANDLE_VALUE, which owns nothing.
    const UniqueFileHandle missing(
        CreateFileW(L"quib-no-such-file.bin", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(missing);
}
#endif

}  // namespace
}  // namespace quib::platform
