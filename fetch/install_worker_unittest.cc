#include "fetch/install_worker.h"

#include <gtest/gtest.h>

#include <string>

#include "fetch/installer_check.h"
#include "fetch/manifest.h"
#include "tests/test_support.h"

namespace {

TEST(MakeDebugUrlTest, InsertsBeforeTheLastDot) {
  const struct {
    const wchar_t* url;
    const wchar_t* debugUrl;  // null: no debug form, url unchanged
  } cases[] = {
      {L"http://api.pimbrel.com/client/version.html", L"http://api.pimbrel.com/client/version_debug.html"},
      {L"http://127.0.0.1:47811/client/version.html", L"http://127.0.0.1:47811/client/version_debug.html"},
      // The last dot stands in the host name when the path has none.
      {L"http://api.pimbrel.com/client/version", L"http://api.pimbrel_debug.com/client/version"},
      {L"http://localhost/version", nullptr},
  };
  for (const auto& c : cases) {
    wchar_t url[kUrlCapacity] = {};
    wcscpy(url, c.url);
    EXPECT_EQ(MakeDebugUrl(url, kUrlCapacity), c.debugUrl != nullptr) << Narrow(c.url);
    EXPECT_STREQ(url, c.debugUrl ? c.debugUrl : c.url);
  }
}

TEST(MakeDebugUrlTest, RefusesAResultThatDoesNotFit) {
  // 248 characters + "_debug" = 254 fits; one more character does not.
  for (size_t length : {248u, 249u}) {
    std::wstring text = L"http://h/" + std::wstring(length - 9 - 5, L'a') + L".html";
    ASSERT_EQ(text.size(), length);
    wchar_t url[kUrlCapacity + 4];
    wmemset(url, L'#', kUrlCapacity + 4);
    wcscpy(url, text.c_str());
    const bool made = MakeDebugUrl(url, kUrlCapacity);
    EXPECT_EQ(made, length == 248u);
    EXPECT_EQ(wcslen(url), made ? length + 6 : length);
    for (size_t i = kUrlCapacity; i < kUrlCapacity + 4; ++i) EXPECT_EQ(url[i], L'#');
  }
}

TEST(IsSafeVersionNameTest, KeepsTheNameInsideTheInstallFolder) {
  const struct {
    const wchar_t* name;
    bool safe;
  } cases[] = {
      {L"1.2.0", true},
      {L"", true},
      {L"2.0 beta (x86)", true},
      {L"..", true},  // pimbrel_mini_...exe still names a file in the folder
      {L"..\\..\\Windows\\x", false},
      {L"../../x", false},
      {L"C:\\x", false},
      {L"1.0:stream", false},
      {L"1.0*", false},
      {L"1.0?", false},
      {L"\"1.0\"", false},
      {L"<1>", false},
      {L"1|0", false},
      {L"1.0\t", false},
      {L"1.0\n", false},
      {L"1\x7f", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsSafeVersionName(c.name), c.safe) << Narrow(c.name);
}

TEST(AppendTextTest, NeverWritesPastItsBuffer) {
  wchar_t buffer[8];
  wmemset(buffer, L'#', 8);
  wcscpy(buffer, L"abc");
  EXPECT_TRUE(AppendText(buffer, 6, L"de"));  // 5 characters + terminator
  EXPECT_STREQ(buffer, L"abcde");
  EXPECT_FALSE(AppendText(buffer, 6, L"f"));
  EXPECT_STREQ(buffer, L"abcde");
  EXPECT_EQ(buffer[6], L'#');
  wchar_t unterminated[4] = {L'x', L'x', L'x', L'x'};
  EXPECT_FALSE(AppendText(unterminated, 4, L""));
}

// What the seam saw of the installer while the worker held it.
struct HeldObservation {
  int calls = 0;
  bool writeRefused = false;
  bool deleteRefused = false;
  bool replaceRefused = false;
  std::wstring planted;
};
HeldObservation g_observed;

void ObserveHeldInstaller(const wchar_t* path) {
  ++g_observed.calls;
  HANDLE writer =
      CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  g_observed.writeRefused = writer == INVALID_HANDLE_VALUE;
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  g_observed.deleteRefused = !DeleteFileW(path);
  g_observed.replaceRefused =
      !MoveFileExW(g_observed.planted.c_str(), path, MOVEFILE_REPLACE_EXISTING);
}

class StartPinnedInstallerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDirectory(L"pinned");
    ASSERT_FALSE(dir_.empty());
    installer_ = dir_ + L"\\pimbrel_mini_1.0.exe";
    ASSERT_TRUE(
        CopyFileW((BuildDirectory() + L"\\record_args.exe").c_str(), installer_.c_str(), FALSE));
    HANDLE file = CreateFileW(installer_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(HashFileSha256(file, digest_));
    CloseHandle(file);
    record_ = dir_ + L"\\record.txt";
    SetEnvironmentVariableW(L"PIMBREL_RECORD_FILE", record_.c_str());
    g_observed = HeldObservation();
    g_observed.planted = dir_ + L"\\planted.exe";
    ASSERT_TRUE(WriteFileBytes(g_observed.planted, "MZ planted"));
    g_beforePinnedStart = ObserveHeldInstaller;
  }
  void TearDown() override {
    g_beforePinnedStart = nullptr;
    SetEnvironmentVariableW(L"PIMBREL_RECORD_FILE", nullptr);
    RemoveTree(dir_);
  }

  std::wstring dir_, installer_, record_;
  unsigned char digest_[kSha256Size] = {};
  LaunchContext context_ = {L"appid:426429", false};
};

TEST_F(StartPinnedInstallerTest, HoldsTheCheckedFileUntilItIsStarted) {
  EXPECT_TRUE(StartPinnedInstaller(L"", installer_.c_str(), digest_, &context_));
  EXPECT_EQ(g_observed.calls, 1);
  EXPECT_TRUE(g_observed.writeRefused) << "opened for writing while held";
  EXPECT_TRUE(g_observed.deleteRefused) << "deleted while held";
  EXPECT_TRUE(g_observed.replaceRefused) << "replaced while held";
  ASSERT_TRUE(WaitForPath(record_, 15000)) << "the checked installer was not started";
  EXPECT_NE(ReadFileBytes(record_).find("appid:426429"), std::string::npos);
  // Released once the process exists. A rename, since Windows refuses writes
  // to the image of a process that may still be running, but allows renames.
  EXPECT_TRUE(MoveFileW(installer_.c_str(), (dir_ + L"\\moved.exe").c_str()));
}

TEST_F(StartPinnedInstallerTest, RemovesACachedFileThatFailsAndStartsNothing) {
  // One byte changed at the end; no URL to download it again from.
  std::string bytes = ReadFileBytes(installer_);
  bytes.back() ^= 1;
  ASSERT_TRUE(WriteFileBytes(installer_, bytes));
  EXPECT_FALSE(StartPinnedInstaller(L"", installer_.c_str(), digest_, &context_));
  EXPECT_EQ(g_observed.calls, 0);
  EXPECT_FALSE(PathExists(installer_)) << "the altered file was left in place";
  Sleep(300);
  EXPECT_FALSE(PathExists(record_));
}

}  // namespace
