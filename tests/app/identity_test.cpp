// The identity of the built QuibDemo.exe, read back from the file: a GUI
// program of the build's machine (i386 for the shipped 32-bit build), with its
// version information, icon and manifest.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/win32/handles.h"
#include "quib_version.h"

namespace {

// The version the build gave the program: major, minor, 0, build number.
constexpr WORD kVersion[] = {QUIB_VERSION_NUMBERS};
static_assert(sizeof kVersion / sizeof kVersion[0] == 4);

// QuibDemo.exe stands beside the test program.
std::wstring ProgramPath() {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self);
    return path.substr(0, path.find_last_of(L"\\/") + 1) + L"QuibDemo.exe";
}

class ResourceFile {
  public:
    ResourceFile()
        : module_(LoadLibraryExW(ProgramPath().c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {}
    HMODULE Module() const { return module_.Get(); }
    std::string Bytes(LPCWSTR type, LPCWSTR name) const {
        HRSRC res = FindResourceW(Module(), name, type);
        if (!res) {
            return std::string();
        }
        const char* data = static_cast<const char*>(LockResource(LoadResource(Module(), res)));
        return std::string(data, SizeofResource(Module(), res));
    }

  private:
    quib::platform::UniqueModule module_;
};

TEST(ProgramIdentity, WindowsGuiProgramForTheBuildsMachine) {
    const quib::platform::UniqueFileHandle file(CreateFileW(
        ProgramPath().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file) << "QuibDemo.exe is built beside the tests";
    std::vector<char> head(4096);
    DWORD got = 0;
    ReadFile(file.Get(), head.data(), static_cast<DWORD>(head.size()), &got, nullptr);
    ASSERT_EQ(got, head.size());
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(head.data());
    ASSERT_EQ(dos->e_magic, IMAGE_DOS_SIGNATURE);
    // The headers of the build's own kind: the 64-bit build exists only to
    // run the tests on machines that run no 32-bit code.
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(head.data() + dos->e_lfanew);
    ASSERT_EQ(nt->Signature, IMAGE_NT_SIGNATURE);
#ifdef _WIN64
    EXPECT_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
#else
    EXPECT_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
#endif
    EXPECT_EQ(nt->OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR_MAGIC);
    EXPECT_EQ(nt->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
}

TEST(ProgramIdentity, VersionInformation) {
    const std::wstring path = ProgramPath();
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    const DWORD high = MAKELONG(kVersion[1], kVersion[0]);
    const DWORD low = MAKELONG(kVersion[3], kVersion[2]);
    EXPECT_EQ(fixed->dwFileVersionMS, high);
    EXPECT_EQ(fixed->dwFileVersionLS, low);
    EXPECT_EQ(fixed->dwProductVersionMS, high);
    EXPECT_EQ(fixed->dwProductVersionLS, low);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(translation[0], 0x0409);
    EXPECT_EQ(translation[1], 1200);

    const struct {
        const wchar_t* field;
        const wchar_t* value;
    } strings[] = {
        {L"FileVersion", L"" QUIB_VERSION_TEXT}, {L"ProductVersion", L"" QUIB_VERSION_TEXT},
        {L"FileDescription", L"Vell QUIB Demo"}, {L"ProductName", L"Vell QUIB Demo"},
        {L"Comments", L"Vell QUIB Demo"},        {L"InternalName", L"QuibDemo"},
        {L"OriginalFilename", L"QuibDemo.exe"},
    };
    for (const auto& s : strings) {
        const std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + s.field;
        wchar_t* value = nullptr;
        ASSERT_TRUE(
            VerQueryValueW(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &length))
            << static_cast<int>(key.size());
        EXPECT_STREQ(value, s.value);
    }
}

BOOL CALLBACK CountName(HMODULE, LPCWSTR, LPWSTR, LONG_PTR count) {
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width, height, colourCount, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

TEST(ProgramIdentity, OneIconOfTwo32x32ImagesIn16And256Colours) {
    ResourceFile exe;
    ASSERT_NE(exe.Module(), nullptr);
    int groups = 0;
    EnumResourceNamesW(exe.Module(), RT_GROUP_ICON, &CountName,
                       reinterpret_cast<LONG_PTR>(&groups));
    ASSERT_EQ(groups, 1);

    // The group that the window's class loads.
    const std::string group = exe.Bytes(RT_GROUP_ICON, MAKEINTRESOURCEW(101));
    ASSERT_GE(group.size(), 6u);
    const WORD count = *reinterpret_cast<const WORD*>(group.data() + 4);
    ASSERT_EQ(count, 2);
    ASSERT_EQ(group.size(), 6u + count * sizeof(GroupIconEntry));
    std::vector<int> bits;
    for (WORD i = 0; i < count; ++i) {
        const auto* e =
            reinterpret_cast<const GroupIconEntry*>(group.data() + 6 + i * sizeof(GroupIconEntry));
        EXPECT_EQ(e->width, 32);
        EXPECT_EQ(e->height, 32);
        // The image itself says the same.
        const std::string image = exe.Bytes(RT_ICON, MAKEINTRESOURCEW(e->id));
        ASSERT_GE(image.size(), sizeof(BITMAPINFOHEADER));
        const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(image.data());
        EXPECT_EQ(header->biWidth, 32);
        EXPECT_EQ(header->biHeight, 64);  // colour and mask
        EXPECT_EQ(header->biBitCount, e->bitCount);
        EXPECT_EQ(e->colourCount, e->bitCount == 4 ? 16 : 0);
        bits.push_back(e->bitCount);
    }
    std::sort(bits.begin(), bits.end());
    EXPECT_EQ(bits, (std::vector<int>{4, 8}));  // 16 and 256 colours
}

TEST(ProgramIdentity, ManifestAsksForCommonControls6AndDpiAwareness) {
    ResourceFile exe;
    const std::string manifest = exe.Bytes(RT_MANIFEST, MAKEINTRESOURCEW(1));
    std::string version = std::to_string(kVersion[0]);
    for (size_t i = 1; i < 4; ++i) {
        version += '.';
        version += std::to_string(kVersion[i]);
    }
    EXPECT_NE(manifest.find("name=\"QuibDemo\" version=\"" + version + "\""), std::string::npos)
        << version;
    EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    EXPECT_NE(manifest.find("version=\"6.0.0.0\""), std::string::npos);
    // Per monitor, version 2, with what older systems understand beside it,
    // each in the namespace its system reads.
    EXPECT_NE(manifest.find("<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/"
                            "WindowsSettings\">true/pm</dpiAware>"),
              std::string::npos);
    EXPECT_NE(manifest.find("<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/"
                            "WindowsSettings\">PerMonitorV2, PerMonitor</dpiAwareness>"),
              std::string::npos);
    // This test program carries the same manifest, and the system honours it:
    // per monitor, where it knows of that (Wine has no version 2 to tell).
    EXPECT_TRUE(IsProcessDPIAware());
    using ContextProc = void*(WINAPI*)();
    using AwarenessProc = int(WINAPI*)(void*);
    const HMODULE user32 = GetModuleHandleW(L"user32.dll");
    const auto context = reinterpret_cast<ContextProc>(
        reinterpret_cast<void*>(GetProcAddress(user32, "GetThreadDpiAwarenessContext")));
    const auto awareness = reinterpret_cast<AwarenessProc>(
        reinterpret_cast<void*>(GetProcAddress(user32, "GetAwarenessFromDpiAwarenessContext")));
    if (context && awareness) {
        constexpr int kPerMonitorAware = 2;  // DPI_AWARENESS_PER_MONITOR_AWARE
        EXPECT_EQ(awareness(context()), kPerMonitorAware);
    }
}

}  // namespace
