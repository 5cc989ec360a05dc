// Download throughput over loopback: DownloadToFile against a bare WinINet
// read loop of the same 1,023-byte read size, from an in-process server.
// Afterwards the server keeps serving the same body, so that a program
// outside (curl, from download_bench.sh) can be measured against it, until
// a request for /quit arrives or the hold time has passed.
//   download_bench.exe FOLDER [SIZE_MB [RUNS [HOLD_MS]]]
// Prints "port=N", one line per run, "downloadtofile_mibps=X",
// "bareloop_mibps=Y" and finally "serving".
#include <winsock2.h>
#include <windows.h>
#include <wininet.h>

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "fetch/http_transfer.h"
#include "tests/loopback_server.h"
#include "tests/test_support.h"

namespace {

constexpr DWORD kReadSize = 1023;  // the read size of the transfers
constexpr double kMiB = 1024.0 * 1024.0;

double Seconds() {
  LARGE_INTEGER frequency, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::string RandomBody(size_t size) {
  std::mt19937_64 generator(42);
  std::string body(size, '\0');
  for (size_t i = 0; i + 8 <= size; i += 8) {
    const unsigned long long word = generator();
    memcpy(&body[i], &word, 8);
  }
  return body;
}

// The loop DownloadToFile is built around, without a file: the bytes read.
unsigned long long BareReadLoop(const std::wstring& url) {
  unsigned long long total = 0;
  HINTERNET root = InternetOpenW(L"ReduVI/1.0", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (!root) return 0;
  HINTERNET request =
      InternetOpenUrlW(root, url.c_str(), nullptr, 0, INTERNET_FLAG_NO_CACHE_WRITE, 0);
  if (request) {
    char chunk[1024] = {};
    DWORD count = 0;
    while (InternetReadFile(request, chunk, kReadSize, &count) && count > 0) total += count;
    InternetCloseHandle(request);
  }
  InternetCloseHandle(root);
  return total;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: download_bench.exe FOLDER [SIZE_MB [RUNS [HOLD_MS]]]\n");
    return 2;
  }
  const std::wstring folder = Widen(argv[1]);
  const size_t sizeMb = argc > 2 ? strtoul(argv[2], nullptr, 10) : 64;
  const int runs = argc > 3 ? atoi(argv[3]) : 3;
  const DWORD holdMs = argc > 4 ? strtoul(argv[4], nullptr, 10) : 120000;
  if (sizeMb == 0 || runs <= 0) return 2;

  const std::string body = RandomBody(sizeMb << 20);
  LoopbackServer server(0, holdMs + 600000);
  if (!server.Start()) {
    fprintf(stderr, "download_bench: no server\n");
    return 1;
  }
  CannedReply reply;
  reply.path = "/bench.bin";
  reply.body = body;
  server.SetReply(reply);
  reply.path = "/quit";
  reply.body = "bye";
  server.SetReply(reply);
  const std::wstring url = server.Url("/bench.bin");
  printf("port=%u\n", server.port());
  fflush(stdout);

  const std::wstring path = folder + L"\\bench_download.bin";
  std::vector<double> download, bare;
  int status = 0;
  // One transfer that is not counted: the first one of a process (and of a
  // freshly started wine prefix) also pays for start-up work.
  DownloadToFile(url.c_str(), path.c_str());
  for (int run = 0; run < runs; ++run) {
    DeleteFileW(path.c_str());
    double start = Seconds();
    DownloadToFile(url.c_str(), path.c_str());
    const double downloadSeconds = Seconds() - start;
    bool read = false;
    const std::string file = ReadFileBytes(path, &read);
    if (!read || file != body) {
      fprintf(stderr, "download_bench: the downloaded file differs from the body\n");
      status = 1;
    }
    download.push_back(body.size() / kMiB / downloadSeconds);

    start = Seconds();
    const unsigned long long got = BareReadLoop(url);
    const double bareSeconds = Seconds() - start;
    if (got != body.size()) {
      fprintf(stderr, "download_bench: the bare loop read %llu bytes\n", got);
      status = 1;
    }
    bare.push_back(body.size() / kMiB / bareSeconds);
    printf("run %d: DownloadToFile %.3f s (%.1f MiB/s), bare loop %.3f s (%.1f MiB/s)\n", run + 1,
           downloadSeconds, download.back(), bareSeconds, bare.back());
    fflush(stdout);
  }
  DeleteFileW(path.c_str());
  printf("downloadtofile_mibps=%.2f\nbareloop_mibps=%.2f\nserving\n", Median(download),
         Median(bare));
  fflush(stdout);
  server.WaitForRequest("/quit", holdMs);
  server.Stop();
  return status;
}
