#include "launcher/client_launch.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/test_support.h"

namespace {

std::wstring Repeat(wchar_t c, size_t n) { return std::wstring(n, c); }

TEST(BuildClientCommandLineTest, QuotesPathAndIdentifier) {
  wchar_t line[kCommandLineCapacity];
  ASSERT_TRUE(BuildClientCommandLine(L"D:\\Client\\PimbrelMini.exe", L"appid:426429", line,
                                     kCommandLineCapacity));
  EXPECT_STREQ(line, L"\"D:\\Client\\PimbrelMini.exe\" \"appid:426429\"");
  EXPECT_EQ(wcslen(line), 42u);
}

TEST(BuildClientCommandLineTest, NeverWritesPastItsBuffer) {
  const std::wstring path = L"C:\\x.exe";     // 8 characters
  const std::wstring id = L"appid:426429";   // 12 characters: needs 8 + 12 + 5 + 1 = 26
  wchar_t line[32];
  for (size_t capacity : {25u, 26u}) {
    wmemset(line, L'#', 32);
    const bool fits = BuildClientCommandLine(path.c_str(), id.c_str(), line, capacity);
    EXPECT_EQ(fits, capacity == 26u);
    for (size_t i = capacity; i < 32; ++i) EXPECT_EQ(line[i], L'#') << "capacity " << capacity;
    if (!fits) {
      EXPECT_EQ(line[0], L'#') << "nothing written when it does not fit";
    }
  }
  // The longest path a path buffer holds and the longest identifier always fit.
  std::wstring longLine(kCommandLineCapacity, L'#');
  EXPECT_TRUE(BuildClientCommandLine(Repeat(L'p', kClientPathCapacity - 1).c_str(),
                                     Repeat(L'i', 254).c_str(), &longLine[0], kCommandLineCapacity));
}

// Wipes the launcher's App Paths key around every test.
class RegisteredClientTest : public ::testing::Test {
 protected:
  void SetUp() override { DeleteRegisteredClient(); }
  void TearDown() override { DeleteRegisteredClient(); }
};

TEST_F(RegisteredClientTest, MissingKeyLeavesTheBufferUntouched) {
  wchar_t path[kClientPathCapacity];
  wmemset(path, L'#', kClientPathCapacity);
  EXPECT_FALSE(ReadInstalledClientPath(path));
  EXPECT_EQ(path[0], L'#');
  EXPECT_EQ(path[kClientPathCapacity - 1], L'#');
}

TEST_F(RegisteredClientTest, FindsEveryPathThatFitsItsBuffer) {
  for (size_t length : {4u, 129u, 130u, 200u, 259u, 260u, 300u}) {
    const std::wstring value = L"C:\\" + Repeat(L'c', length - 3);
    ASSERT_TRUE(SetRegisteredClient(value));
    wchar_t path[kClientPathCapacity + 8];
    wmemset(path, L'#', kClientPathCapacity + 8);
    const bool found = ReadInstalledClientPath(path);
    EXPECT_EQ(found, value.size() <= kClientPathCapacity - 1) << "length " << value.size();
    if (found) {
      EXPECT_EQ(std::wstring(path), value);
    } else {
      EXPECT_EQ(path[0], L'#') << "untouched, length " << value.size();
    }
    EXPECT_EQ(path[kClientPathCapacity], L'#') << "nothing past the buffer";
  }
}

TEST_F(RegisteredClientTest, ValueWithoutTerminatorStaysTerminated) {
  const std::wstring value = L"C:\\" + Repeat(L'x', kClientPathCapacity - 1 - 3);  // 259 characters
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kAppPathsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  // Stored without its terminator, as a careless installer might write it.
  ASSERT_EQ(RegSetValueExW(key, L"", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.data()),
                           static_cast<DWORD>(value.size() * sizeof(wchar_t))),
            ERROR_SUCCESS);
  RegCloseKey(key);
  wchar_t path[kClientPathCapacity];
  wmemset(path, L'#', kClientPathCapacity);
  ASSERT_TRUE(ReadInstalledClientPath(path));
  EXPECT_EQ(path[kClientPathCapacity - 1], L'\0');
  EXPECT_EQ(std::wstring(path), value);
}

class LaunchClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDirectory(L"launch");
    ASSERT_FALSE(dir_.empty());
  }
  void TearDown() override {
    SetEnvironmentVariableW(L"PIMBREL_RECORD_HOLD_MS", nullptr);
    RemoveTree(dir_);
  }
  // A copy of the recording helper at |relative| below the test folder.
  std::wstring PlaceRecorder(const std::wstring& relative) {
    const std::wstring target = dir_ + L"\\" + relative;
    CreateDirectoryW(target.substr(0, target.rfind(L'\\')).c_str(), nullptr);
    EXPECT_TRUE(CopyFileW((BuildDirectory() + L"\\record_args.exe").c_str(), target.c_str(), FALSE));
    return target;
  }
  std::wstring dir_;
  wchar_t appId_[255] = L"appid:426429";
  LaunchContext context_ = {appId_, false};
};

TEST_F(LaunchClientTest, StartsWithQuotedPathAndIdentifierWithoutWaiting) {
  const std::wstring exe = PlaceRecorder(L"Pimbrel Client\\PimbrelMini.exe");
  SetEnvironmentVariableW(L"PIMBREL_RECORD_HOLD_MS", L"3000");
  const ULONGLONG begin = GetTickCount64();
  LaunchClient(exe.c_str(), &context_);
  EXPECT_LT(GetTickCount64() - begin, 2000u) << "LaunchClient waited for the child";
  ASSERT_TRUE(WaitForPath(RecordFileFor(exe), 30000));
  const std::string expected = Narrow(L"\"" + exe + L"\" \"appid:426429\"") + "\n" + Narrow(exe) +
                               "\n" + "appid:426429\n";
  EXPECT_EQ(ReadFileBytes(RecordFileFor(exe)), expected);
}

TEST_F(LaunchClientTest, StartsNothingForAMissingOrEmptyPath) {
  const std::wstring exe = PlaceRecorder(L"PimbrelMini.exe");
  const std::wstring missing = dir_ + L"\\Missing.exe";
  LaunchClient(missing.c_str(), &context_);
  LaunchClient(L"", &context_);
  // A directory is an entry too, but not a program: nothing may start.
  LaunchClient(dir_.c_str(), &context_);
  Sleep(500);
  EXPECT_FALSE(PathExists(RecordFileFor(exe)));
  EXPECT_FALSE(PathExists(RecordFileFor(missing)));
}

}  // namespace
