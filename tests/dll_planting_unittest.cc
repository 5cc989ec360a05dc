// DLL planting: a wininet.dll, gdiplus.dll and bcrypt.dll beside the exe
// (and in its current folder), with WINEDLLOVERRIDES (set by ctest) asking
// Wine to prefer native copies as Windows always does. A plain program loads the planted
// DLL; the launcher, which restricts its DLL search to System32 and
// delay-loads all three, runs its whole install path without it.
#include <gtest/gtest.h>

#include <string>

#include "build_config.h"
#include "tests/loopback_server.h"
#include "tests/test_support.h"
#include "fetch/installer_check.h"
#include "fetch/manifest.h"

namespace {

const char kManifestPath[] = "/client/version.html";
const char kInstallerPath[] = "/files/pimbrel_setup.exe";
const wchar_t* const kPlantedNames[] = {L"wininet.dll", L"gdiplus.dll", L"bcrypt.dll"};

std::wstring CommonAppData() {
  wchar_t path[MAX_PATH] = {};
  GetEnvironmentVariableW(L"ProgramData", path, MAX_PATH);
  return path;
}

// The processes that loaded the planted DLL, one path a line.
std::wstring PlantedRecord(const std::wstring& path) {
  const std::string bytes = ReadFileBytes(path);
  std::wstring text(bytes.size() / sizeof(wchar_t), L'\0');
  memcpy(&text[0], bytes.data(), text.size() * sizeof(wchar_t));
  return text;
}

class DllPlantingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteRegisteredClient();
    productFolder_ = CommonAppData() + L"\\Pimbrel";
    ASSERT_FALSE(CommonAppData().empty());
    ASSERT_TRUE(RemoveTree(productFolder_));
    dir_ = MakeTempDirectory(L"planting");
    ASSERT_FALSE(dir_.empty());
    for (const wchar_t* name : kPlantedNames) {
      ASSERT_TRUE(CopyFileW((BuildDirectory() + L"\\planted\\wininet.dll").c_str(),
                            (dir_ + L"\\" + name).c_str(), FALSE));
    }
    planted_ = dir_ + L"\\planted.txt";
    record_ = dir_ + L"\\installer.args.txt";
    SetEnvironmentVariableW(L"PIMBREL_PLANTED_RECORD", planted_.c_str());
    SetEnvironmentVariableW(L"PIMBREL_RECORD_FILE", record_.c_str());
    // Wine prefers its builtin DLLs unless told otherwise, and takes the
    // overrides only from the Unix environment it was started with.
    wchar_t overrides[1024] = {};
    GetEnvironmentVariableW(L"WINEDLLOVERRIDES", overrides, 1024);
    ASSERT_NE(std::wstring(overrides).find(L"wininet,gdiplus,bcrypt=n,b"), std::wstring::npos)
        << "run with PIMBREL_WINEDLLOVERRIDES=wininet,gdiplus,bcrypt=n,b";
  }
  void TearDown() override {
    SetEnvironmentVariableW(L"PIMBREL_PLANTED_RECORD", nullptr);
    SetEnvironmentVariableW(L"PIMBREL_RECORD_FILE", nullptr);
    server_.Stop();
    RemoveTree(productFolder_);
    RemoveTree(dir_);
  }
  bool CopyBesidePlanted(const wchar_t* program) {
    return CopyFileW((BuildDirectory() + L"\\" + program).c_str(), (dir_ + L"\\" + program).c_str(),
                     FALSE) != 0;
  }

  LoopbackServer server_{PIMBREL_TEST_PORT, 60000};
  std::wstring productFolder_, dir_, planted_, record_;
};

TEST_F(DllPlantingTest, APlainProgramLoadsThePlantedDll) {
  // The attack the launcher defends against, shown on a program that does
  // not: without this, the launcher's test below would prove nothing.
  ASSERT_TRUE(CopyBesidePlanted(L"plain_loader.exe"));
  const std::wstring loader = dir_ + L"\\plain_loader.exe";
  for (const wchar_t* name : kPlantedNames) {
    SCOPED_TRACE(Narrow(name));
    DeleteFileW(planted_.c_str());
    const ProcessResult run = RunProcess(L"\"" + loader + L"\" " + name, 30000, dir_);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(PlantedRecord(planted_), loader + L"\n");
  }
}

TEST_F(DllPlantingTest, TheLauncherRunsItsInstallPathWithoutThePlantedDlls) {
  ASSERT_TRUE(CopyBesidePlanted(L"PimbrelLauncher.exe"));
  const std::wstring launcher = dir_ + L"\\PimbrelLauncher.exe";
  ASSERT_TRUE(server_.Start()) << "port " << PIMBREL_TEST_PORT << " is taken";
  bool ok = false;
  const std::string installer = ReadFileBytes(BuildDirectory() + L"\\record_args.exe", &ok);
  ASSERT_TRUE(ok);
  // A pin, so that bcrypt is needed as well as wininet (transfers) and
  // gdiplus (splash).
  HANDLE file = CreateFileW((BuildDirectory() + L"\\record_args.exe").c_str(), GENERIC_READ,
                            FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  unsigned char digest[kSha256Size] = {};
  const bool hashed = HashFileSha256(file, digest);
  CloseHandle(file);
  ASSERT_TRUE(hashed);
  std::string hex;
  for (unsigned char byte : digest) {
    hex += "0123456789abcdef"[byte >> 4];
    hex += "0123456789abcdef"[byte & 15];
  }
  CannedReply manifest;
  manifest.path = kManifestPath;
  manifest.body = "{\"pc\": {\"version_name\": \"1.2.0\", \"app_file\": \"" +
                  Narrow(server_.Url(kInstallerPath)) + "\", \"sha256\": \"" + hex + "\"}}";
  server_.SetReply(manifest);
  CannedReply body;
  body.path = kInstallerPath;
  body.body = installer;
  server_.SetReply(body);

  // Started from its own folder, as a download usually is: the planted DLLs
  // are both beside the exe and in the current folder.
  const ProcessResult run = RunProcess(L"\"" + launcher + L"\"", 60000, dir_);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(server_.CountRequests(kInstallerPath), 1u) << "the transfers did not run";
  EXPECT_TRUE(WaitForPath(record_, 15000)) << "the pinned installer was not started";
  Sleep(300);
  EXPECT_EQ(PlantedRecord(planted_), L"") << "the launcher loaded a planted DLL";
}

}  // namespace
