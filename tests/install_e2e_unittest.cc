// The install path of the real launcher executable against a loopback vendor
// server on the port its manifest URL names, in the test prefix's ProgramData.
#include <winsock2.h>  // before windows.h, which shlobj.h brings
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "build_config.h"
#include "tests/loopback_server.h"
#include "tests/test_support.h"
#include "fetch/installer_check.h"
#include "fetch/manifest.h"

namespace {

const char kManifestPath[] = "/client/version.html";
const char kDebugManifestPath[] = "/client/version_debug.html";
const char kInstallerPath[] = "/files/pimbrel_setup.exe";

std::wstring CommonAppData() {
  wchar_t path[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, path);
  return path;
}

// The trace lines a run wrote, without the text-mode carriage returns.
std::vector<std::string> Lines(const std::string& output) {
  std::vector<std::string> lines;
  std::string line;
  for (char c : output) {
    if (c == '\r') continue;
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

// Every file below |folder|, as paths relative to it.
void ListFiles(const std::wstring& folder, const std::wstring& prefix, std::vector<std::wstring>* out) {
  WIN32_FIND_DATAW data;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      ListFiles(folder + L"\\" + name, prefix + name + L"\\", out);
    } else {
      out->push_back(prefix + name);
    }
  } while (FindNextFileW(search, &data));
  FindClose(search);
}

class InstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteRegisteredClient();
    productFolder_ = CommonAppData() + L"\\Pimbrel";
    ASSERT_TRUE(RemoveTree(productFolder_));
    installFolder_ = productFolder_ + L"\\\\Install\\";
    dir_ = MakeTempDirectory(L"install");
    ASSERT_FALSE(dir_.empty());
    launcher_ = dir_ + L"\\PimbrelLauncher.exe";
    ASSERT_TRUE(CopyFileW((BuildDirectory() + L"\\PimbrelLauncher.exe").c_str(), launcher_.c_str(),
                          FALSE));
    record_ = dir_ + L"\\installer.args.txt";
    SetEnvironmentVariableW(L"PIMBREL_RECORD_FILE", record_.c_str());
    bool ok = false;
    installerBytes_ = ReadFileBytes(BuildDirectory() + L"\\record_args.exe", &ok);
    ASSERT_TRUE(ok);
  }
  void TearDown() override {
    SetEnvironmentVariableW(L"PIMBREL_RECORD_FILE", nullptr);
    server_.Stop();
    RemoveTree(productFolder_);
    RemoveTree(dir_);
  }

  void StartServer() { ASSERT_TRUE(server_.Start()) << "port " << PIMBREL_TEST_PORT << " is taken"; }

  std::string Manifest(const std::string& versionName) {
    return "{\"pc\": {\"version_name\": \"" + versionName + "\", \"app_file\": \"" +
           Narrow(server_.Url(kInstallerPath)) + "\"}}";
  }
  void ServeManifest(const std::string& body, const char* path = kManifestPath) {
    CannedReply reply;
    reply.path = path;
    reply.body = body;
    server_.SetReply(reply);
  }
  CannedReply InstallerReply() {
    CannedReply reply;
    reply.path = kInstallerPath;
    reply.body = installerBytes_;
    return reply;
  }
  // The installer's SHA-256 as lower-case hexadecimal digits.
  std::string InstallerSha256() {
    HANDLE file = CreateFileW((BuildDirectory() + L"\\record_args.exe").c_str(), GENERIC_READ,
                              FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    unsigned char digest[kSha256Size] = {};
    const bool hashed = file != INVALID_HANDLE_VALUE && HashFileSha256(file, digest);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    EXPECT_TRUE(hashed);
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char byte : digest) {
      hex += kDigits[byte >> 4];
      hex += kDigits[byte & 15];
    }
    return hex;
  }
  // A manifest for version 1.2.0 with |sha256Value| (JSON text) as its pin.
  std::string PinnedManifest(const std::string& sha256Value) {
    return "{\"pc\": {\"version_name\": \"1.2.0\", \"app_file\": \"" +
           Narrow(server_.Url(kInstallerPath)) + "\", \"sha256\": " + sha256Value + "}}";
  }
  std::wstring InstalledFile(const std::wstring& version) {
    return installFolder_ + L"pimbrel_mini_" + version + L".exe";
  }
  std::wstring ExpectedRecord(const std::wstring& installer) {
    return L"\"" + installer + L"\" \"appid:426429\"\n" + installer + L"\nappid:426429\n";
  }
  ProcessResult RunLauncher() { return RunProcess(L"\"" + launcher_ + L"\"", 60000); }
  std::vector<std::wstring> FilesUnderProduct() {
    std::vector<std::wstring> files;
    ListFiles(productFolder_, L"", &files);
    return files;
  }

  LoopbackServer server_{PIMBREL_TEST_PORT, 110000};
  std::wstring productFolder_, installFolder_, dir_, launcher_, record_;
  std::string installerBytes_;
};

TEST_F(InstallTest, FirstRunDownloadsAndStartsTheInstallerThenLaterRunsReuseIt) {
  StartServer();
  ServeManifest(Manifest("1.2.0"));
  server_.SetReply(InstallerReply());

  const ProcessResult first = RunLauncher();
  EXPECT_FALSE(first.timedOut);
  EXPECT_EQ(first.exitCode, 0u);
  const std::wstring installer = InstalledFile(L"1.2.0");
  EXPECT_EQ(ReadFileBytes(installer), installerBytes_) << "installer not stored byte for byte";
  ASSERT_TRUE(WaitForPath(record_, 30000)) << "installer not started";
  EXPECT_EQ(ReadFileBytes(record_), Narrow(ExpectedRecord(installer)));
  EXPECT_EQ(Lines(first.output), (std::vector<std::string>{Narrow(server_.Url(kManifestPath)),
                                                           Narrow(server_.Url(kInstallerPath))}));
  EXPECT_EQ(FilesUnderProduct(), std::vector<std::wstring>{L"Install\\pimbrel_mini_1.2.0.exe"});
  const std::vector<RecordedRequest> requests = server_.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].userAgent, "Mozilla/4.0 (compatible; MSIE 6.0;)");
  EXPECT_EQ(requests[1].userAgent, "ReduVI/1.0");

  // A later run finds the file and starts it again without a download.
  DeleteFileW(record_.c_str());
  const ProcessResult second = RunLauncher();
  EXPECT_EQ(second.exitCode, 0u);
  ASSERT_TRUE(WaitForPath(record_, 30000));
  EXPECT_EQ(ReadFileBytes(record_), Narrow(ExpectedRecord(installer)));
  EXPECT_EQ(server_.CountRequests(kManifestPath), 2u);
  EXPECT_EQ(server_.CountRequests(kInstallerPath), 1u) << "the installer was downloaded again";
  EXPECT_EQ(Lines(second.output).size(), 1u);
}

TEST_F(InstallTest, RegisteredClientWhoseFileIsMissingTakesTheInstallPath) {
  StartServer();
  ServeManifest(Manifest("1.2.0"));
  server_.SetReply(InstallerReply());
  ASSERT_TRUE(SetRegisteredClient(dir_ + L"\\Gone\\PimbrelMini.exe"));

  const ProcessResult run = RunLauncher();
  DeleteRegisteredClient();
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(server_.CountRequests(kManifestPath), 1u);
  ASSERT_TRUE(WaitForPath(record_, 30000));
  EXPECT_EQ(ReadFileBytes(record_), Narrow(ExpectedRecord(InstalledFile(L"1.2.0"))));
}

TEST_F(InstallTest, DebugMarkerFetchesTheDebugManifest) {
  StartServer();
  ASSERT_TRUE(WriteFileBytes(dir_ + L"\\pimbrel.debug", ""));
  ServeManifest(Manifest("9.9.9-debug"), kDebugManifestPath);
  server_.SetReply(InstallerReply());

  const ProcessResult run = RunLauncher();
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(server_.CountRequests(kDebugManifestPath), 1u);
  EXPECT_EQ(server_.CountRequests(kManifestPath), 0u);
  ASSERT_TRUE(WaitForPath(record_, 30000));
  EXPECT_EQ(ReadFileBytes(record_), Narrow(ExpectedRecord(InstalledFile(L"9.9.9-debug"))));
}

TEST_F(InstallTest, BadManifestsAndFailedDownloadsStartNothing) {
  struct Case {
    const char* name;
    std::string manifest;  // empty: the server is not started at all
    int installerStatus;
    size_t cutAfter;
    bool installerRequested;
  };
  StartServer();
  const std::string url = Narrow(server_.Url(kInstallerPath));
  const Case cases[] = {
      {"parent folders", Manifest("..\\\\..\\\\evil"), 200, SIZE_MAX, false},
      {"drive path", Manifest("C:\\\\evil"), 200, SIZE_MAX, false},
      {"stream name", Manifest("1.0:stream"), 200, SIZE_MAX, false},
      {"slash", Manifest("a/b"), 200, SIZE_MAX, false},
      {"control character", Manifest("1.0\\t"), 200, SIZE_MAX, false},
      {"installer 404", Manifest("1.2.0"), 404, SIZE_MAX, true},
      {"download cut short", Manifest("1.2.0"), 200, 20000, true},
      {"manifest does not parse", "{\"pc\": {\"version_name\": \"1.2.0\", \"app_file\": \"" + url + "\"}",
       200, SIZE_MAX, false},
      {"no installer URL", "{\"pc\": {\"version_name\": \"1.2.0\"}}", 200, SIZE_MAX, false},
      {"installer URL not a string", "{\"pc\": {\"version_name\": \"1.2.0\", \"app_file\": 7}}", 200,
       SIZE_MAX, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(RemoveTree(productFolder_));
    DeleteFileW(record_.c_str());
    const size_t installerRequestsBefore = server_.CountRequests(kInstallerPath);
    ServeManifest(c.manifest);
    CannedReply installer = InstallerReply();
    installer.status = c.installerStatus;
    installer.cutAfter = c.cutAfter;
    server_.SetReply(installer);

    const ProcessResult run = RunLauncher();
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(server_.CountRequests(kInstallerPath) - installerRequestsBefore,
              c.installerRequested ? 1u : 0u);
    EXPECT_EQ(FilesUnderProduct(), std::vector<std::wstring>{}) << "a file was left behind";
    Sleep(300);
    EXPECT_FALSE(PathExists(record_)) << "something was started";
  }
}

TEST_F(InstallTest, NoServerAtAllStartsNothing) {
  // Nothing listens on the manifest port.
  const ProcessResult run = RunLauncher();
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.output, "") << "no transfer was opened, so no trace";
  EXPECT_EQ(FilesUnderProduct(), std::vector<std::wstring>{});
  Sleep(300);
  EXPECT_FALSE(PathExists(record_));
}

TEST_F(InstallTest, SecondLauncherLeavesWhileTheFirstDownloads) {
  StartServer();
  ServeManifest(Manifest("1.2.0"));
  CannedReply slow = InstallerReply();
  slow.bodyDelayMs = 4000;
  server_.SetReply(slow);

  // The first launcher runs on a thread of its own while it waits for the body.
  struct FirstRun {
    std::wstring commandLine;
    ProcessResult result;
  } first = {L"\"" + launcher_ + L"\"", {}};
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](void* arg) -> DWORD {
        FirstRun* run = static_cast<FirstRun*>(arg);
        run->result = RunProcess(run->commandLine, 60000);
        return 0;
      },
      &first, 0, nullptr);
  ASSERT_TRUE(server_.WaitForRequest(kInstallerPath, 20000));

  const ProcessResult second = RunLauncher();
  EXPECT_EQ(second.exitCode, 0u);
  EXPECT_LT(second.elapsedMs, 1800u) << "a second launcher must leave at once";
  EXPECT_EQ(second.output, "");
  EXPECT_FALSE(PathExists(record_)) << "the second launcher started something";
  EXPECT_EQ(server_.CountRequests(kManifestPath), 1u);

  WaitForSingleObject(thread, 60000);
  CloseHandle(thread);
  EXPECT_EQ(first.result.exitCode, 0u);
  EXPECT_GE(first.result.elapsedMs, 4000u) << "the first launcher left before its download ended";
  ASSERT_TRUE(WaitForPath(record_, 30000));

  // The first run gave the mutex up: a new run takes the install path again.
  const ProcessResult third = RunLauncher();
  EXPECT_EQ(third.exitCode, 0u);
  EXPECT_EQ(server_.CountRequests(kManifestPath), 2u);
  EXPECT_EQ(server_.CountRequests(kInstallerPath), 1u);
}

TEST_F(InstallTest, PinnedInstallerIsStartedOnlyWhenItsDigestMatches) {
  enum Cached { kNone, kGood, kAltered };
  struct Case {
    const char* name;
    std::string pin;     // JSON text of "sha256"
    Cached cached;       // what lies under the final name before the run
    std::string served;  // installer body the server sends
    size_t downloads;    // installer requests the run makes
    bool started;
  };
  StartServer();
  const std::string hex = InstallerSha256();
  std::string upper = hex;
  for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  std::string wrongHex = hex;
  wrongHex[63] = wrongHex[63] == '0' ? '1' : '0';
  std::string altered = installerBytes_;
  altered[altered.size() / 2] ^= 0x20;
  const std::string quoted = "\"" + hex + "\"";

  const Case cases[] = {
      {"pin matches", quoted, kNone, installerBytes_, 1, true},
      {"upper-case digits", "\"" + upper + "\"", kNone, installerBytes_, 1, true},
      {"cached file matches", quoted, kGood, installerBytes_, 0, true},
      {"cached file altered on disk", quoted, kAltered, installerBytes_, 1, true},
      {"download does not match", quoted, kNone, altered, 1, false},
      {"pin of another file", "\"" + wrongHex + "\"", kNone, installerBytes_, 1, false},
      {"altered cache, altered download", quoted, kAltered, altered, 1, false},
      {"63 digits", "\"" + hex.substr(1) + "\"", kGood, installerBytes_, 0, false},
      {"not hexadecimal", "\"" + hex.substr(0, 63) + "x\"", kNone, installerBytes_, 0, false},
      {"a number", "1234", kNone, installerBytes_, 0, false},
      {"null", "null", kGood, installerBytes_, 0, false},
  };
  const std::wstring installer = InstalledFile(L"1.2.0");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(RemoveTree(productFolder_));
    DeleteFileW(record_.c_str());
    if (c.cached != kNone) {
      ASSERT_TRUE(CreateDirectoryW(productFolder_.c_str(), nullptr));
      ASSERT_TRUE(CreateDirectoryW(installFolder_.c_str(), nullptr));
      ASSERT_TRUE(WriteFileBytes(installer, c.cached == kGood ? installerBytes_ : altered));
    }
    const size_t before = server_.CountRequests(kInstallerPath);
    ServeManifest(PinnedManifest(c.pin));
    CannedReply reply = InstallerReply();
    reply.body = c.served;
    server_.SetReply(reply);

    const ProcessResult run = RunLauncher();
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(server_.CountRequests(kInstallerPath) - before, c.downloads);
    if (c.started) {
      ASSERT_TRUE(WaitForPath(record_, 15000)) << "installer not started";
      EXPECT_EQ(ReadFileBytes(record_), Narrow(ExpectedRecord(installer)));
      EXPECT_EQ(ReadFileBytes(installer), installerBytes_);
      EXPECT_EQ(FilesUnderProduct(), std::vector<std::wstring>{L"Install\\pimbrel_mini_1.2.0.exe"});
    } else {
      Sleep(300);
      EXPECT_FALSE(PathExists(record_)) << "something was started";
      // A malformed pin leaves a cached file alone (nothing was checked);
      // a failed check removes what failed.
      const bool keptCache = c.downloads == 0 && c.cached == kGood;
      EXPECT_EQ(FilesUnderProduct(),
                keptCache ? std::vector<std::wstring>{L"Install\\pimbrel_mini_1.2.0.exe"}
                          : std::vector<std::wstring>{})
          << "a file was left behind";
    }
  }
}

}  // namespace
