#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "bridge/host_loader.h"
#include "bridge/modQUIB.h"
#include "platform/error.h"

namespace quib::modQUIB {
namespace {

std::u16string ErrorText(const quib::NumberedError& e) {
    return e.Description();
}

bool Contains(const std::u16string& text, std::u16string_view part) {
    return text.find(part) != std::u16string::npos;
}

TEST(HostLoader, FillsTheTableFromAGoodLibrary) {
    const auto lib = HostLibrary::Load(u"quib_testhost_good.dll");
    const HostTable& t = lib->Table();
    ASSERT_TRUE(t.InitDDE && t.KillDDE && t.QuibRegister && t.QuibUnregister && t.QuibCommunicate &&
                t.QuibGetAllText);
    // The optional two may be absent.
    EXPECT_EQ(t.IsVellThere, nullptr);
    EXPECT_EQ(t.QuibSend, nullptr);

    AttachHost(t);
    EXPECT_EQ(InitDDE(), 42);  // stdcall through the table works
    EXPECT_EQ(gStatus, u"loaded");
    DetachHost();
}

TEST(HostLoader, MissingFileIsErrorFiftyThreeNamingTheFile) {
    try {
        HostLibrary::Load(u"quib_absent.dll");
        FAIL();
    } catch (const quib::NumberedError& e) {
        EXPECT_EQ(e.Number(), quib::kErrFileNotFound);
        EXPECT_EQ(e.Source(), u"host_loader_tests");
        EXPECT_TRUE(Contains(ErrorText(e), u"quib_absent.dll"));
        EXPECT_TRUE(Contains(ErrorText(e), u": "));  // followed by the system's reason
    }
}

TEST(HostLoader, MissingExportIsErrorFourFiftyThreeNamingTheExport) {
    try {
        HostLibrary::Load(u"quib_testhost_noexport.dll");
        FAIL();
    } catch (const quib::NumberedError& e) {
        EXPECT_EQ(e.Number(), quib::kErrEntryPointNotFound);
        EXPECT_TRUE(Contains(ErrorText(e), u"QuibGetAllText"));
        EXPECT_TRUE(Contains(ErrorText(e), u"quib_testhost_noexport.dll"));
    }
}

TEST(HostLoader, ALibraryInTheCurrentFolderOrOnPathIsNotLoaded) {
    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    const std::wstring dir = std::wstring(temp) + L"quib_loader_plant";
    CreateDirectoryW(dir.c_str(), nullptr);
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring good(self);
    good = good.substr(0, good.find_last_of(L"\\/") + 1) + L"quib_testhost_good.dll";
    const std::wstring planted = dir + L"\\quib_planted.dll";
    ASSERT_TRUE(CopyFileW(good.c_str(), planted.c_str(), FALSE));

    wchar_t oldDir[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, oldDir);
    ASSERT_TRUE(SetCurrentDirectoryW(dir.c_str()));
    const std::wstring oldPath = _wgetenv(L"PATH") ? _wgetenv(L"PATH") : L"";
    SetEnvironmentVariableW(L"PATH", (dir + L";" + oldPath).c_str());

    bool loaded = true;
    try {
        HostLibrary::Load(u"quib_planted.dll");
    } catch (const quib::NumberedError& e) {
        loaded = false;
        EXPECT_EQ(e.Number(), quib::kErrFileNotFound);
    }
    SetEnvironmentVariableW(L"PATH", oldPath.c_str());
    SetCurrentDirectoryW(oldDir);
    DeleteFileW(planted.c_str());
    RemoveDirectoryW(dir.c_str());
    EXPECT_FALSE(loaded) << "a DLL outside the program's folder was loaded";
}

}  // namespace
}  // namespace quib::modQUIB
