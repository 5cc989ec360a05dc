// The startup decision, driven through the real launcher executable.
#include <gtest/gtest.h>

#include <string>

#include "launcher/client_launch.h"
#include "launcher/shared_state.h"
#include "tests/test_support.h"

namespace {

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteRegisteredClient();
    dir_ = MakeTempDirectory(L"startup");
    ASSERT_FALSE(dir_.empty());
    launcher_ = dir_ + L"\\PimbrelLauncher.exe";
    ASSERT_TRUE(CopyFileW((BuildDirectory() + L"\\PimbrelLauncher.exe").c_str(), launcher_.c_str(),
                          FALSE));
  }
  void TearDown() override {
    DeleteRegisteredClient();
    SetEnvironmentVariableW(L"PIMBREL_RECORD_FILE", nullptr);
    RemoveTree(dir_);
  }
  std::wstring PlaceRecorder(const std::wstring& path) {
    EXPECT_TRUE(CopyFileW((BuildDirectory() + L"\\record_args.exe").c_str(), path.c_str(), FALSE));
    return path;
  }
  ProcessResult RunLauncher(const std::wstring& arguments = L"") {
    return RunProcess(L"\"" + launcher_ + L"\"" + arguments, 60000);
  }
  std::wstring dir_;
  std::wstring launcher_;
};

TEST_F(StartupTest, StartsARegisteredClientAndExits) {
  ASSERT_TRUE(CreateDirectoryW((dir_ + L"\\Pimbrel Mini").c_str(), nullptr));
  const std::wstring client = PlaceRecorder(dir_ + L"\\Pimbrel Mini\\PimbrelMini.exe");
  ASSERT_TRUE(SetRegisteredClient(client));

  // Arguments given to the launcher change nothing.
  const ProcessResult run = RunLauncher(L" --install /S extra");
  ASSERT_TRUE(run.started);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_LT(run.elapsedMs, 1800u) << "the client path shows no splash";
  ASSERT_TRUE(WaitForPath(RecordFileFor(client), 30000));
  EXPECT_EQ(ReadFileBytes(RecordFileFor(client)),
            Narrow(L"\"" + client + L"\" \"appid:426429\"\n" + client + L"\nappid:426429\n"));
  EXPECT_EQ(run.output, "") << "no transfer, no trace";
}

TEST_F(StartupTest, FindsAClientAtTheLongestPath) {
  // Folders padded so that the client's path is 259 characters long.
  std::wstring folder = dir_;
  const std::wstring name = L"\\PimbrelMini.exe";
  while (folder.size() + name.size() < 259) {
    const size_t room = 259 - name.size() - folder.size() - 1;
    folder += L"\\" + std::wstring(room < 60 ? room : 60, L'd');
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr)) << Narrow(folder);
  }
  const std::wstring client = PlaceRecorder(folder + name);
  ASSERT_EQ(client.size(), 259u);
  ASSERT_TRUE(SetRegisteredClient(client));
  const std::wstring record = dir_ + L"\\long.args.txt";
  SetEnvironmentVariableW(L"PIMBREL_RECORD_FILE", record.c_str());

  const ProcessResult run = RunLauncher();
  EXPECT_EQ(run.exitCode, 0u);
  ASSERT_TRUE(WaitForPath(record, 30000)) << "a 259-character client path was not started";
  EXPECT_EQ(ReadFileBytes(record),
            Narrow(L"\"" + client + L"\" \"appid:426429\"\n" + client + L"\nappid:426429\n"));
}

TEST_F(StartupTest, SecondLauncherStartsNothingWhileTheMutexExists) {
  const std::wstring missing = dir_ + L"\\PimbrelMini.exe";
  ASSERT_TRUE(SetRegisteredClient(missing));
  HANDLE mutex = CreateMutexW(nullptr, TRUE, kInstanceMutexName);
  ASSERT_NE(mutex, nullptr);
  ASSERT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));

  const ProcessResult run = RunLauncher();
  CloseHandle(mutex);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_LT(run.elapsedMs, 1800u) << "a second launcher must leave at once";
  EXPECT_EQ(run.output, "") << "a second launcher fetches nothing";
  EXPECT_FALSE(PathExists(RecordFileFor(missing)));
}

}  // namespace
