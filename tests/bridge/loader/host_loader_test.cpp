#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

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
    EXPECT_EQ(State().gStatus, u"loaded");
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

// The folder of this test program, with its final separator.
std::wstring ProgramFolder() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring path(self);
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

// A good host library planted as quib_planted.dll in a folder of its own,
// which is the current folder and the first on PATH while this lives.
class PlantedLibrary {
  public:
    PlantedLibrary() {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        dir_ = std::wstring(temp) + L"quib_loader_plant";
        CreateDirectoryW(dir_.c_str(), nullptr);
        planted_ = dir_ + L"\\quib_planted.dll";
        copied_ = CopyFileW((ProgramFolder() + L"quib_testhost_good.dll").c_str(), planted_.c_str(),
                            FALSE) != FALSE;
        GetCurrentDirectoryW(MAX_PATH, oldDir_);
        entered_ = SetCurrentDirectoryW(dir_.c_str()) != FALSE;
        oldPath_ = _wgetenv(L"PATH") ? _wgetenv(L"PATH") : L"";
        SetEnvironmentVariableW(L"PATH", (dir_ + L";" + oldPath_).c_str());
    }
    ~PlantedLibrary() {
        SetEnvironmentVariableW(L"PATH", oldPath_.c_str());
        SetCurrentDirectoryW(oldDir_);
        DeleteFileW(planted_.c_str());
        RemoveDirectoryW(dir_.c_str());
    }
    PlantedLibrary(const PlantedLibrary&) = delete;
    PlantedLibrary& operator=(const PlantedLibrary&) = delete;
    bool Ready() const { return copied_ && entered_; }

  private:
    std::wstring dir_;
    std::wstring planted_;
    std::wstring oldPath_;
    wchar_t oldDir_[MAX_PATH] = {};
    bool copied_ = false;
    bool entered_ = false;
};

// The system's loader, every call recorded; with gRejectSearchFlags, as a
// loader without the search flags it rejects them.
struct LoadCall {
    std::wstring path;
    unsigned long flags;
    bool operator==(const LoadCall&) const = default;
};
std::vector<LoadCall> gLoadCalls;
bool gRejectSearchFlags = false;
void* RecordingLoad(const wchar_t* path, unsigned long flags) {
    gLoadCalls.push_back({path, flags});
    constexpr unsigned long kSearchFlags = 0x1F00;  // LOAD_LIBRARY_SEARCH_*
    if (gRejectSearchFlags && (flags & kSearchFlags)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return LoadLibraryExW(path, nullptr, flags);
}

// On both ways of loading: with the search flags, and by full path where the
// loader rejects them.
TEST(HostLoader, ALibraryInTheCurrentFolderOrOnPathIsNotLoaded) {
    const PlantedLibrary plant;
    ASSERT_TRUE(plant.Ready());
    for (const bool rejecting : {false, true}) {
        SCOPED_TRACE(rejecting ? "full path" : "search flags");
        gRejectSearchFlags = rejecting;
        bool loaded = true;
        try {
            HostLibrary::Load(u"quib_planted.dll", &RecordingLoad);
        } catch (const quib::NumberedError& e) {
            loaded = false;
            EXPECT_EQ(e.Number(), quib::kErrFileNotFound);
            EXPECT_TRUE(Contains(ErrorText(e), u"quib_planted.dll"));
        }
        EXPECT_FALSE(loaded) << "a DLL outside the program's folder was loaded";
    }
    // Restricted at start, the process's plain loads pass the current folder
    // and PATH by too.
    const HMODULE reached = LoadLibraryW(L"quib_planted.dll");
    ASSERT_NE(reached, nullptr) << "the plant is out of a plain load's reach";
    FreeLibrary(reached);
    RestrictDllSearch();
    const HMODULE restricted = LoadLibraryW(L"quib_planted.dll");
    EXPECT_EQ(restricted, nullptr);
    if (restricted) {
        FreeLibrary(restricted);
    }
}

TEST(HostLoader, WhereTheSearchFlagsAreRejectedTheLibraryIsLoadedByItsFullPath) {
    const unsigned long searchFlags =
        LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;
    const std::wstring beside = ProgramFolder() + L"quib_testhost_good.dll";
    gRejectSearchFlags = true;
    gLoadCalls.clear();
    {
        const auto lib = HostLibrary::Load(u"quib_testhost_good.dll", &RecordingLoad);
        const HostTable& t = lib->Table();
        ASSERT_TRUE(t.InitDDE && t.KillDDE && t.QuibRegister && t.QuibUnregister &&
                    t.QuibCommunicate && t.QuibGetAllText);
        wchar_t path[MAX_PATH] = {};
        GetModuleFileNameW(GetModuleHandleW(L"quib_testhost_good.dll"), path, MAX_PATH);
        EXPECT_EQ(lstrcmpiW(path, beside.c_str()), 0) << path;
    }
    EXPECT_EQ(gLoadCalls, (std::vector<LoadCall>{{L"quib_testhost_good.dll", searchFlags},
                                                 {beside, LOAD_WITH_ALTERED_SEARCH_PATH}}));

    // A missing library is looked for in the program's folder and the system's,
    // then reported; a loader that takes the flags is asked once.
    for (const bool rejecting : {true, false}) {
        SCOPED_TRACE(rejecting ? "full path" : "search flags");
        gRejectSearchFlags = rejecting;
        gLoadCalls.clear();
        try {
            HostLibrary::Load(u"quib_absent.dll", &RecordingLoad);
            FAIL();
        } catch (const quib::NumberedError& e) {
            EXPECT_EQ(e.Number(), quib::kErrFileNotFound);
            EXPECT_TRUE(Contains(ErrorText(e), u"quib_absent.dll"));
        }
        EXPECT_EQ(gLoadCalls.size(), rejecting ? 3u : 1u);
    }
}

}  // namespace
}  // namespace quib::modQUIB
