#include "launcher/launch_context.h"

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

TEST(DebugMarkerPathTest, CutsAtTheLastBackslash) {
  const struct {
    const wchar_t* modulePath;
    const wchar_t* markerPath;
  } cases[] = {
      {L"C:\\Program Files\\Pimbrel\\PimbrelLauncher.exe", L"C:\\Program Files\\Pimbrel\\pimbrel.debug"},
      {L"D:\\a.b\\c\\launcher.exe", L"D:\\a.b\\c\\pimbrel.debug"},
      {L"launcher.exe", L"launcher.exe\\pimbrel.debug"},  // no backslash: the whole path
      {L"\\launcher.exe", L"\\pimbrel.debug"},            // only a leading backslash
      {L"", L"\\pimbrel.debug"},                          // GetModuleFileNameW failed
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DebugMarkerPath(c.modulePath), c.markerPath) << Narrow(c.modulePath);
  }
}

// The marker is looked for beside the running executable: this test program.
class BuildLaunchContextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    marker_ = BuildDirectory() + L"\\pimbrel.debug";
    RemoveMarker();
  }
  void TearDown() override { RemoveMarker(); }
  void RemoveMarker() {
    DeleteFileW(marker_.c_str());
    RemoveDirectoryW(marker_.c_str());
  }
  std::wstring marker_;
};

TEST_F(BuildLaunchContextTest, DebugModeFollowsTheMarker) {
  wchar_t appId[255] = L"appid:426429";
  LaunchContext context = {nullptr, true};

  EXPECT_EQ(BuildLaunchContext(&context, appId), &context);
  EXPECT_EQ(context.appIdText, appId);  // the pointer itself, no copy
  EXPECT_FALSE(context.debugMode) << "no marker";

  ASSERT_TRUE(WriteFileBytes(marker_, ""));
  BuildLaunchContext(&context, appId);
  EXPECT_TRUE(context.debugMode) << "marker file";
  RemoveMarker();

  ASSERT_TRUE(CreateDirectoryW(marker_.c_str(), nullptr));
  BuildLaunchContext(&context, appId);
  EXPECT_TRUE(context.debugMode) << "marker directory";
}

TEST(FileExistsTest, FindsFilesDirectoriesAndPatterns) {
  const std::wstring dir = MakeTempDirectory(L"fileexists");
  ASSERT_FALSE(dir.empty());
  ASSERT_TRUE(WriteFileBytes(dir + L"\\a.txt", "x"));
  ASSERT_TRUE(CreateDirectoryW((dir + L"\\sub dir").c_str(), nullptr));
  const struct {
    std::wstring path;
    bool exists;
  } cases[] = {
      {dir + L"\\a.txt", true},
      {dir + L"\\sub dir", true},
      {dir, true},
      {dir + L"\\missing.txt", false},
      {dir + L"\\missing\\a.txt", false},
      {L"", false},
      {dir + L"\\*.txt", true},
      {dir + L"\\?.txt", true},
      {dir + L"\\*.exe", false},
      {dir + L"\\??.txt", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FileExists(c.path.c_str()), c.exists) << Narrow(c.path);
  }
  EXPECT_TRUE(RemoveTree(dir));
}

}  // namespace
