// The release package, unpacked into an empty folder of its own (the test's
// working directory): the program runs from there against the stand-in host
// library beside it.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "app/control_ids.h"
#include "tests/e2e/demo_driver.h"

namespace quib::e2e {
namespace {

std::wstring WorkingFolder() {
    std::wstring folder(GetCurrentDirectoryW(0, nullptr), L'\0');
    folder.resize(GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data()));
    return folder + L"\\";
}

TEST(Package, TheUnpackedProgramStartsShowsItsWindowAndEndsWithExit) {
    const std::wstring folder = WorkingFolder();
    ASSERT_NE(folder, DemoDriver::OwnFolder()) << "the package is unpacked away from the build";
    DemoDriver demo({}, folder);
    ASSERT_TRUE(demo.Start()) << demo.Failure();
    EXPECT_TRUE(IsWindowVisible(demo.Window()));
    EXPECT_EQ(demo.Text(IDC_cmdExit), L"&Exit");

    demo.Click(IDC_cmdExit);
    DWORD code = 99;
    ASSERT_TRUE(demo.WaitForExit(15000, &code)) << demo.Failure();
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(demo.Failure().empty()) << demo.Failure();
}

}  // namespace
}  // namespace quib::e2e
