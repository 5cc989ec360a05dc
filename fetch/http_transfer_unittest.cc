#include "fetch/http_transfer.h"

#include <winsock2.h>
#include <windows.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "tests/loopback_server.h"
#include "tests/test_support.h"

namespace {

const char kTextUserAgent[] = "Mozilla/4.0 (compatible; MSIE 6.0;)";
const char kDownloadUserAgent[] = "ReduVI/1.0";
constexpr size_t kWorkerTextCapacity = 102400;
constexpr char kUnwritten = 0x5A;
constexpr size_t kGuard = 64;

// Headers that let a cache keep and serve the response for an hour.
const char kCacheable[] =
    "Cache-Control: public, max-age=3600\r\n"
    "Last-Modified: Mon, 01 Jan 2024 00:00:00 GMT\r\n"
    "Expires: Thu, 01 Jan 2037 00:00:00 GMT\r\n";

std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(generator() & 0xFF);
  return bytes;
}

// Random text without zero bytes, so that FetchText keeps all of it.
std::string RandomText(size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string text(size, '\0');
  for (char& c : text) c = static_cast<char>(' ' + generator() % 95);
  return text;
}

CannedReply Reply(const std::string& path, int status, const std::string& body) {
  CannedReply reply;
  reply.path = path;
  reply.status = status;
  reply.body = body;
  return reply;
}

std::set<std::wstring> FolderEntries(const std::wstring& dir) {
  std::set<std::wstring> names;
  WIN32_FIND_DATAW data;
  HANDLE search = FindFirstFileW((dir + L"\\*").c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring name = data.cFileName;
    if (name != L"." && name != L"..") names.insert(name);
  } while (FindNextFileW(search, &data));
  FindClose(search);
  return names;
}

bool HasCacheEntry(const std::wstring& url) {
  DWORD size = 0;
  GetUrlCacheEntryInfoW(url.c_str(), nullptr, &size);
  return GetLastError() == ERROR_INSUFFICIENT_BUFFER;
}

// Every transfer test gets its own server, folder and a port that refuses
// connections: bound, so nobody else takes it, but not listening.
class TransferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Start());
    dir_ = MakeTempDirectory(L"transfer");
    ASSERT_FALSE(dir_.empty());
    refusing_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_NE(refusing_, INVALID_SOCKET);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(refusing_, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    int length = sizeof(address);
    getsockname(refusing_, reinterpret_cast<sockaddr*>(&address), &length);
    refusedUrl_ =
        L"http://127.0.0.1:" + std::to_wstring(ntohs(address.sin_port)) + L"/installer.exe";
  }
  void TearDown() override {
    if (refusing_ != INVALID_SOCKET) closesocket(refusing_);
    server_.Stop();
    RemoveTree(dir_);
  }

  // Serves |reply| and returns its URL.
  std::wstring Serve(const CannedReply& reply) {
    server_.SetReply(reply);
    return server_.Url(reply.path);
  }

  LoopbackServer server_{0, 60000};
  std::wstring dir_;
  SOCKET refusing_ = INVALID_SOCKET;
  std::wstring refusedUrl_;
};

// ---------------------------------------------------------------- FetchText

struct TextCase {
  const char* what;
  CannedReply reply;
  std::string text;  // expected text
};

TEST_F(TransferTest, FetchTextHandsOnTheBodyAsText) {
  const std::string several = RandomText(10000, 1);
  // Reads fill all 1,023 bytes they ask for when the body is there (as under
  // Wine): chunks are body[0, 1023), [1023, 2046), ... A zero byte loses the
  // rest of its own chunk only.
  const std::string withZeros = std::string(10, 'A') + std::string(1, '\0') +
                                std::string(1012, 'a') + std::string(500, 'B') +
                                std::string(1, '\0') + std::string(600, 'b');
  std::vector<TextCase> cases = {
      {"manifest", Reply("/a", 200, "{\"pc\":{\"version_name\":\"1.2.0\"}}"),
       "{\"pc\":{\"version_name\":\"1.2.0\"}}"},
      {"empty body", Reply("/b", 200, ""), ""},
      {"several chunks", Reply("/c", 200, several), several},
      {"one chunk exactly", Reply("/d", 200, several.substr(0, 1023)), several.substr(0, 1023)},
      {"one byte more", Reply("/e", 200, several.substr(0, 1024)), several.substr(0, 1024)},
      {"404 page", Reply("/f", 404, "<html><body>no such page</body></html>"),
       "<html><body>no such page</body></html>"},
      {"500 page", Reply("/g", 500, "server error"), "server error"},
      {"zero bytes inside", Reply("/h", 200, withZeros),
       std::string(10, 'A') + std::string(500, 'B') + std::string(78, 'b')},
  };
  CannedReply slow = Reply("/i", 200, several);
  slow.chunkSize = 700;
  slow.chunkDelayMs = 2;
  cases.push_back({"sent in small pieces", slow, several});
  CannedReply unsized = Reply("/j", 200, several);
  unsized.contentLength = false;
  cases.push_back({"no Content-Length", unsized, several});
  CannedReply cut = Reply("/k", 200, several);
  cut.cutAfter = 3000;
  cases.push_back({"cut short: the text keeps what arrived", cut, several.substr(0, 3000)});

  for (const TextCase& c : cases) {
    SCOPED_TRACE(c.what);
    const std::wstring url = Serve(c.reply);
    std::vector<char> text(kWorkerTextCapacity + kGuard, kUnwritten);
    FetchText(url.c_str(), text.data(), kWorkerTextCapacity);
    EXPECT_EQ(std::string(text.data()), c.text);
    for (size_t i = kWorkerTextCapacity; i < text.size(); ++i) ASSERT_EQ(text[i], kUnwritten);
    ASSERT_EQ(server_.CountRequests(c.reply.path), 1u);
  }
  for (const RecordedRequest& request : server_.Requests()) {
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.userAgent, kTextUserAgent);
  }
}

TEST_F(TransferTest, FetchTextLeavesABodyThatDoesNotFitOut) {
  const struct {
    size_t capacity;
    size_t bodySize;
  } cases[] = {
      {1, 0},
      {1, 1},
      {2, 1},
      {2, 2},
      {1023, 1022},
      {1023, 1023},
      {1024, 1023},
      {1024, 1024},
      {1025, 1024},
      {1025, 1025},
      {5000, 4999},
      {5000, 5000},
      {5000, 20000},
      {kWorkerTextCapacity, kWorkerTextCapacity - 1},
      {kWorkerTextCapacity, kWorkerTextCapacity},
      {kWorkerTextCapacity, 3 * kWorkerTextCapacity},
  };
  const std::string body = RandomText(3 * kWorkerTextCapacity, 2);
  for (const auto& c : cases) {
    SCOPED_TRACE("capacity " + std::to_string(c.capacity) + ", body " + std::to_string(c.bodySize));
    const std::wstring url = Serve(Reply("/text", 200, body.substr(0, c.bodySize)));
    std::vector<char> text(c.capacity + kGuard, kUnwritten);
    FetchText(url.c_str(), text.data(), c.capacity);
    if (c.bodySize < c.capacity) {
      EXPECT_EQ(std::string(text.data()), body.substr(0, c.bodySize));
    } else {
      EXPECT_EQ(text[0], '\0') << "a body that does not fit leaves the text empty";
    }
    for (size_t i = c.capacity; i < text.size(); ++i) ASSERT_EQ(text[i], kUnwritten) << i;
  }

  // What has to fit is the text: bytes after a zero byte in the same chunk
  // never take room.
  std::string zeroInside = std::string(50, 'x') + std::string(1, '\0') + std::string(200, 'y');
  const std::wstring url = Serve(Reply("/zero", 200, zeroInside));
  std::vector<char> text(100 + kGuard, kUnwritten);
  FetchText(url.c_str(), text.data(), 100);
  EXPECT_EQ(std::string(text.data()), std::string(50, 'x'));
  for (size_t i = 100; i < text.size(); ++i) ASSERT_EQ(text[i], kUnwritten) << i;
}

TEST_F(TransferTest, FetchTextAsksTheServerEveryTime) {
  CannedReply reply = {
      "/client/version.html", 200, "first", true, SIZE_MAX, 0, 0, 0, 0, kCacheable};
  const std::wstring url = Serve(reply);
  char text[256];
  FetchText(url.c_str(), text, sizeof(text));
  EXPECT_STREQ(text, "first");
  reply.body = "second";
  Serve(reply);
  FetchText(url.c_str(), text, sizeof(text));
  EXPECT_STREQ(text, "second") << "a cached copy was handed on";
  EXPECT_EQ(server_.CountRequests(reply.path), 2u);
}

TEST_F(TransferTest, FetchTextOfAnUnopenableUrlTouchesNothing) {
  const std::wstring urls[] = {refusedUrl_, L"", L"not a url", L"http://"};
  for (const std::wstring& url : urls) {
    SCOPED_TRACE(Narrow(url));
    std::vector<char> text(256, kUnwritten);
    FetchText(url.c_str(), text.data(), 200);
    for (char c : text) ASSERT_EQ(c, kUnwritten);
  }
}

// ----------------------------------------------------------- DownloadToFile

TEST_F(TransferTest, DownloadToFileWritesTheBodyByteForByte) {
  const std::string large = RandomBytes(300000, 3);
  std::vector<CannedReply> cases = {
      Reply("/large", 200, large),
      Reply("/empty", 200, ""),
      Reply("/one-chunk", 200, large.substr(0, 1023)),
      Reply("/one-byte-more", 200, large.substr(0, 1024)),
      Reply("/text-like", 200,
            std::string("MZ\r\n\x1a\r\r\n\n\0\0end", 14) + large.substr(0, 5000)),
      Reply("/created", 201, large.substr(0, 3000)),
  };
  CannedReply pieces = Reply("/pieces", 200, large.substr(0, 60000));
  pieces.chunkSize = 777;
  pieces.chunkDelayMs = 1;
  cases.push_back(pieces);
  CannedReply unsized = Reply("/unsized", 200, large.substr(0, 50000));
  unsized.contentLength = false;
  cases.push_back(unsized);

  for (const CannedReply& c : cases) {
    SCOPED_TRACE(c.path);
    const std::wstring path = dir_ + L"\\pimbrel_mini_1.2.0.exe";
    DeleteFileW(path.c_str());
    DownloadToFile(Serve(c).c_str(), path.c_str());
    bool read = false;
    const std::string file = ReadFileBytes(path, &read);
    ASSERT_TRUE(read) << "no file";
    EXPECT_EQ(file.size(), c.body.size());
    EXPECT_TRUE(file == c.body) << "the file differs from the body";
    EXPECT_EQ(FolderEntries(dir_), std::set<std::wstring>{L"pimbrel_mini_1.2.0.exe"});
  }
  for (const RecordedRequest& request : server_.Requests()) {
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.userAgent, kDownloadUserAgent);
  }
}

TEST_F(TransferTest, DownloadToFileReplacesAnOlderFileOnlyWhenComplete) {
  const std::string body = RandomBytes(100000, 4);
  CannedReply cut = Reply("/cut", 200, body);
  cut.cutAfter = 40000;
  CannedReply cutAtChunk = Reply("/cut-at-chunk", 200, body);
  cutAtChunk.cutAfter = 10 * 1023;
  CannedReply cutEmpty = Reply("/cut-before-body", 200, body);
  cutEmpty.cutAfter = 0;
  CannedReply badLength = Reply("/bad-length", 200, body);
  badLength.contentLength = false;
  badLength.extraHeaders = "Content-Length: 100000x\r\n";
  const struct {
    const char* what;
    std::wstring url;
  } failures[] = {
      {"404 page", Serve(Reply("/missing.exe", 404, "<html>not found</html>"))},
      {"500 page", Serve(Reply("/error.exe", 500, "<html>error</html>"))},
      {"302 without a target", Serve(Reply("/moved.exe", 302, "moved"))},
      {"cut short", Serve(cut)},
      {"cut at a chunk boundary", Serve(cutAtChunk)},
      {"cut before the body", Serve(cutEmpty)},
      {"Content-Length that is no number", Serve(badLength)},
      {"refused", refusedUrl_},
      {"malformed URL", L"not a url"},
  };
  const std::wstring path = dir_ + L"\\pimbrel_mini_1.2.0.exe";
  for (const auto& f : failures) {
    SCOPED_TRACE(f.what);
    DeleteFileW(path.c_str());
    DownloadToFile(f.url.c_str(), path.c_str());
    EXPECT_TRUE(FolderEntries(dir_).empty()) << "a failed download left a file";

    ASSERT_TRUE(WriteFileBytes(path, "previous installer"));
    DownloadToFile(f.url.c_str(), path.c_str());
    EXPECT_EQ(ReadFileBytes(path), "previous installer");
    EXPECT_EQ(FolderEntries(dir_), std::set<std::wstring>{L"pimbrel_mini_1.2.0.exe"});
  }

  // A complete body does replace the file that is there.
  DownloadToFile(Serve(Reply("/complete.exe", 200, body)).c_str(), path.c_str());
  EXPECT_TRUE(ReadFileBytes(path) == body);
  EXPECT_EQ(FolderEntries(dir_), std::set<std::wstring>{L"pimbrel_mini_1.2.0.exe"});
}

TEST_F(TransferTest, DownloadToFileCreatesNothingWhereItCannotWrite) {
  const std::wstring url = Serve(Reply("/installer.exe", 200, RandomBytes(5000, 5)));
  const std::wstring paths[] = {
      dir_ + L"\\missing folder\\pimbrel_mini_1.2.0.exe",
      // Not in the ANSI code page: the narrowed name holds '?', which no
      // file name may hold.
      dir_ + L"\\pimbrel_mini_\u4e2d.exe",
  };
  for (const std::wstring& path : paths) {
    SCOPED_TRACE(Narrow(path));
    DownloadToFile(url.c_str(), path.c_str());
    EXPECT_TRUE(FolderEntries(dir_).empty());
  }
  EXPECT_EQ(server_.CountRequests("/installer.exe"), 2u);
}

TEST_F(TransferTest, DownloadToFileAddsNothingToTheCache) {
  const std::wstring path = dir_ + L"\\pimbrel_mini_1.2.0.exe";
  CannedReply reply = Reply("/installer.exe", 200, RandomBytes(5000, 6));
  reply.extraHeaders = kCacheable;
  const std::wstring url = Serve(reply);
  DeleteUrlCacheEntryW(url.c_str());  // an earlier run may have used this port
  DownloadToFile(url.c_str(), path.c_str());
  ASSERT_TRUE(ReadFileBytes(path) == reply.body);
  EXPECT_FALSE(HasCacheEntry(url));

  // The same response read without the flag is cached: the check above
  // can see a cache write.
  reply.path = "/cached.exe";
  const std::wstring cachedUrl = Serve(reply);
  HINTERNET root = InternetOpenW(L"control", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  HINTERNET request = InternetOpenUrlW(root, cachedUrl.c_str(), nullptr, 0, 0, 0);
  ASSERT_NE(request, nullptr);
  char chunk[1024];
  DWORD count = 0;
  while (InternetReadFile(request, chunk, sizeof(chunk), &count) && count > 0) {
  }
  InternetCloseHandle(request);
  InternetCloseHandle(root);
  EXPECT_TRUE(HasCacheEntry(cachedUrl));
}

// --------------------------------------------------------------- trace line

// Starts |commandLine| with its stdout on a pipe and returns what arrives
// there until |bytes| bytes have come or |timeoutMs| has passed; then ends
// the process, which by then may still be running.
std::string OutputWhileRunning(const std::wstring& commandLine, size_t bytes, DWORD timeoutMs) {
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return "";
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  PROCESS_INFORMATION process = {};
  std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
  line.push_back(L'\0');
  const bool started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &process) != FALSE;
  CloseHandle(writeEnd);
  std::string output;
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (started && output.size() < bytes && GetTickCount64() < deadline) {
    DWORD available = 0;
    if (!PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr)) break;
    if (available == 0) {
      Sleep(10);
      continue;
    }
    char buffer[4096];
    DWORD got = 0;
    if (!ReadFile(readEnd, buffer, available < sizeof(buffer) ? available : sizeof(buffer), &got,
                  nullptr))
      break;
    output.append(buffer, got);
  }
  if (started) {
    TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, 5000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(readEnd);
  return output;
}

// The probe is a GUI program like the launcher, so its stdout is the
// inherited pipe and not a console. It is still running while its output
// is read, so only what the transfers flushed can have arrived.
TEST_F(TransferTest, EachOpenedTransferTracesItsUrlToARedirectedStdout) {
  const std::wstring manifest = Serve(Reply("/client/version.html", 200, "{}"));
  const std::wstring installer = Serve(Reply("/pimbrel_setup.exe", 200, RandomBytes(3000, 7)));
  const std::wstring missing = Serve(Reply("/missing.exe", 404, "not found"));
  const std::wstring path = dir_ + L"\\pimbrel_mini_1.2.0.exe";
  // stdout is in text mode: each line ends in the C runtime's CR LF.
  const std::string expected = Narrow(manifest + L"\r\n" + installer + L"\r\n" + missing + L"\r\n");
  const std::string output = OutputWhileRunning(
      L"\"" + BuildDirectory() + L"\\transfer_probe.exe\" fetch " + manifest + L" fetch " +
          refusedUrl_ + L" download " + installer + L" \"" + path + L"\" download " + refusedUrl_ +
          L" \"" + path + L".2\" download " + missing + L" \"" + path + L".3\"",
      expected.size(), 10000);
  EXPECT_EQ(output, expected);
  EXPECT_EQ(FolderEntries(dir_), std::set<std::wstring>{L"pimbrel_mini_1.2.0.exe"});
}

// -------------------------------------------------------------- WideToAnsi

TEST(WideToAnsiTest, ConvertsInTheAnsiCodePage) {
  struct {
    const wchar_t* text;
    std::string ansi;
  } cases[] = {
      {L"", ""},
      {L"C:\\ProgramData\\Pimbrel\\Install\\pimbrel_mini_1.2.0.exe",
       "C:\\ProgramData\\Pimbrel\\Install\\pimbrel_mini_1.2.0.exe"},
      {L"http://127.0.0.1:47812/client/version.html?a=1&b=%20",
       "http://127.0.0.1:47812/client/version.html?a=1&b=%20"},
  };
  struct {
    const wchar_t* text;
    std::string ansi;
  } western[] = {
      {L"caf\u00e9 \u00fc\u00df", "caf\xe9 \xfc\xdf"},
      {L"\u20ac5",
       "\x80"
       "5"},
      {L"pimbrel_mini_\u4e2d\u6587.exe", "pimbrel_mini_??.exe"},  // no such characters: the default
  };
  std::vector<std::pair<const wchar_t*, std::string>> all;
  for (const auto& c : cases) all.push_back({c.text, c.ansi});
  if (GetACP() == 1252) {
    for (const auto& c : western) all.push_back({c.text, c.ansi});
  } else {
    printf("note: ANSI code page %u, the Western European cases did not run\n", GetACP());
  }
  for (const auto& c : all) {
    SCOPED_TRACE(Narrow(c.first));
    char* ansi = WideToAnsi(c.first);
    ASSERT_NE(ansi, nullptr);
    EXPECT_EQ(std::string(ansi), c.second);
    // Two zero bytes follow the converted text.
    EXPECT_EQ(ansi[c.second.size()], '\0');
    EXPECT_EQ(ansi[c.second.size() + 1], '\0');
    delete[] ansi;
  }
}

}  // namespace
