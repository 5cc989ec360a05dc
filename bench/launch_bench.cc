// Driver of the launcher benchmarks, under wine64 in a prefix of its own.
//   launch_bench.exe client LAUNCHER FLOOR CLIENT RUNS
//     Registers CLIENT (stamp_client.exe) as the installed client, then
//     starts LAUNCHER and FLOOR alternately, RUNS times each, and measures
//     from just before CreateProcessW to the client's first instruction.
//   launch_bench.exe install LAUNCHER CLIENT PORT SIZE_MB RUNS HOLD_MS
//     Serves a manifest and an installer of SIZE_MB MiB (CLIENT padded) on
//     127.0.0.1:PORT, runs the launcher's install path RUNS times and
//     measures from the installer request's arrival to the installer's
//     start, the launcher's peak memory and its CPU time; alternately reads
//     the same body with plain WinINet loops of 1,023 and 65,536-byte reads.
//     Then keeps serving (for curl) until /quit or HOLD_MS.
// Prints key=value lines; times in seconds, throughputs in MiB/s (2^20).
#include <winsock2.h>
#include <windows.h>
#include <psapi.h>
#include <shlobj.h>
#include <wininet.h>

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "tests/loopback_server.h"
#include "tests/test_support.h"

namespace {

constexpr double kMiB = 1024.0 * 1024.0;

int64_t Ticks() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

double TicksToSeconds(int64_t ticks) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(ticks) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double FileTimeSeconds(const FILETIME& time) {
  return (static_cast<double>(time.dwHighDateTime) * 4294967296.0 + time.dwLowDateTime) / 1e7;
}

// Waits for the stamp file and returns the counter in it, or 0. When
// |commandLine| is given, it receives the second line.
int64_t ReadStamp(const std::wstring& path, DWORD timeoutMs, std::string* commandLine = nullptr) {
  if (!WaitForPath(path, timeoutMs)) return 0;
  // The name can show up while the rename still holds the file open, and
  // then it cannot be opened for a moment.
  std::string text;
  for (int attempt = 0; attempt < 200 && text.empty(); ++attempt) {
    if (attempt) Sleep(5);
    text = ReadFileBytes(path);
  }
  const size_t end = text.find('\n');
  if (commandLine && end != std::string::npos) commandLine->assign(text.substr(end + 1));
  return _strtoi64(text.c_str(), nullptr, 10);
}

struct Started {
  HANDLE process = nullptr;
  int64_t ticks = 0;  // just before CreateProcessW
};

Started Start(const std::wstring& exe, const std::wstring& arguments) {
  std::wstring commandLine = L"\"" + exe + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  Started started;
  started.ticks = Ticks();
  if (!CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    return started;
  }
  CloseHandle(info.hThread);
  started.process = info.hProcess;
  return started;
}

int RunClientPath(const std::wstring& launcher, const std::wstring& floorExe,
                  const std::wstring& client, int runs) {
  const std::wstring stamp = BuildDirectory() + L"\\bench_stamp.txt";
  SetEnvironmentVariableW(L"PIMBREL_STAMP_FILE", stamp.c_str());
  if (!SetRegisteredClient(client)) {
    fprintf(stderr, "launch_bench: cannot register the client\n");
    return 1;
  }
  std::vector<double> launched, floored;
  int status = 0;
  // One round first that is not counted: the first start of each program
  // also pays for loading it into the page cache and the prefix.
  for (int run = -1; run < runs; ++run) {
    for (int which = 0; which < 2; ++which) {
      // Alternate the order too, so neither program always follows the other.
      const bool isLauncher = (which == 0) == (run % 2 == 0);
      DeleteFileW(stamp.c_str());
      const Started started = isLauncher ? Start(launcher, L"") : Start(floorExe, client);
      if (!started.process) {
        fprintf(stderr, "launch_bench: cannot start %s\n", isLauncher ? "launcher" : "floor");
        return 1;
      }
      std::string commandLine;
      const int64_t stamped = ReadStamp(stamp, 20000, &commandLine);
      WaitForSingleObject(started.process, 20000);
      CloseHandle(started.process);
      if (!stamped || commandLine.find("\"appid:426429\"") == std::string::npos) {
        fprintf(stderr, "launch_bench: round %d: %s after the %s\n", run + 1,
                stamped ? "another command line" : "no client start",
                isLauncher ? "launcher" : "floor");
        status = 1;
        continue;
      }
      const double seconds = TicksToSeconds(stamped - started.ticks);
      if (run >= 0) (isLauncher ? launched : floored).push_back(seconds);
      // Let the client finish before the next start.
      Sleep(50);
    }
    if (run >= 0) {
      printf("run %d: launcher %.2f ms, floor %.2f ms\n", run + 1, 1000 * launched.back(),
             1000 * floored.back());
    }
  }
  DeleteRegisteredClient();
  DeleteFileW(stamp.c_str());
  printf("client_launcher_s=%.6f\nclient_floor_s=%.6f\n", Median(launched), Median(floored));
  printf("client_launcher_max_s=%.6f\nclient_floor_max_s=%.6f\n",
         *std::max_element(launched.begin(), launched.end()),
         *std::max_element(floored.begin(), floored.end()));
  return status;
}

// Reads |url| to the end with reads of |readSize| bytes into |path|, like
// the launcher's download but without its checks; the bytes read.
unsigned long long ReadLoop(const std::wstring& url, DWORD readSize, const std::wstring& path) {
  unsigned long long total = 0;
  HINTERNET root = InternetOpenW(L"ReduVI/1.0", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (!root) return 0;
  HINTERNET request =
      InternetOpenUrlW(root, url.c_str(), nullptr, 0, INTERNET_FLAG_NO_CACHE_WRITE, 0);
  FILE* file = _wfopen(path.c_str(), L"wb");
  if (request && file) {
    std::vector<char> chunk(readSize + 1);
    DWORD count = 0;
    while (InternetReadFile(request, chunk.data(), readSize, &count) && count > 0) {
      fwrite(chunk.data(), 1, count, file);
      total += count;
    }
  }
  if (file) fclose(file);
  DeleteFileW(path.c_str());
  if (request) InternetCloseHandle(request);
  InternetCloseHandle(root);
  return total;
}

int RunInstallPath(const std::wstring& launcher, const std::wstring& client, uint16_t port,
                   size_t sizeMb, int runs, DWORD holdMs) {
  bool read = false;
  std::string installer = ReadFileBytes(client, &read);
  if (!read || installer.size() > (sizeMb << 20)) return 2;
  // The rest is an overlay that the loader ignores: the installer still runs.
  std::mt19937_64 generator(42);
  installer.reserve(sizeMb << 20);
  while (installer.size() < (sizeMb << 20)) installer.push_back(static_cast<char>(generator()));

  LoopbackServer server(port, holdMs + 900000);
  if (!server.Start()) {
    fprintf(stderr, "launch_bench: no server on port %u\n", port);
    return 1;
  }
  const std::string installerUrl = Narrow(server.Url("/installer.exe"));
  CannedReply reply;
  reply.path = "/client/version.html";
  reply.body = "{\"pc\": {\"version_name\": \"bench\", \"app_file\": \"" + installerUrl + "\"}}";
  server.SetReply(reply);
  reply.path = "/installer.exe";
  reply.body = installer;
  server.SetReply(reply);
  reply.path = "/quit";
  reply.body = "bye";
  server.SetReply(reply);

  wchar_t common[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, common);
  const std::wstring installDir = std::wstring(common) + L"\\Pimbrel\\Install";
  const std::wstring installed = installDir + L"\\pimbrel_mini_bench.exe";
  const std::wstring stamp = BuildDirectory() + L"\\bench_stamp.txt";
  SetEnvironmentVariableW(L"PIMBREL_STAMP_FILE", stamp.c_str());
  DeleteRegisteredClient();

  std::vector<double> install, total, cpu, small, large, workingSet, pagefile;
  int status = 0;
  // One run first that is not counted, as in the client path.
  for (int run = -1; run < runs; ++run) {
    DeleteFileW(installed.c_str());
    DeleteFileW(stamp.c_str());
    const size_t before = server.Requests().size();
    const Started started = Start(launcher, L"");
    if (!started.process) return 1;
    // Peak figures only grow; the last reading before the exit is the peak
    // up to then (the system forgets them once the process is gone).
    PROCESS_MEMORY_COUNTERS memory = {};
    PROCESS_MEMORY_COUNTERS reading = {};
    while (WaitForSingleObject(started.process, 10) == WAIT_TIMEOUT) {
      if (GetProcessMemoryInfo(started.process, &reading, sizeof(reading))) memory = reading;
    }
    const int64_t ended = Ticks();
    FILETIME created, exited, kernel, user;
    GetProcessTimes(started.process, &created, &exited, &kernel, &user);
    CloseHandle(started.process);
    const int64_t stamped = ReadStamp(stamp, 20000);
    int64_t requested = 0;
    const std::vector<RecordedRequest> requests = server.Requests();
    for (size_t i = before; i < requests.size(); ++i) {
      if (requests[i].path == "/installer.exe") requested = requests[i].arrivalTicks;
    }
    bool copied = false;
    if (!stamped || !requested || ReadFileBytes(installed, &copied) != installer || !copied) {
      fprintf(stderr, "launch_bench: install run %d did not download and start the installer\n",
              run + 1);
      status = 1;
      continue;
    }
    if (run < 0) continue;
    install.push_back(TicksToSeconds(stamped - requested));
    total.push_back(TicksToSeconds(ended - started.ticks));
    cpu.push_back(FileTimeSeconds(kernel) + FileTimeSeconds(user));
    workingSet.push_back(static_cast<double>(memory.PeakWorkingSetSize));
    pagefile.push_back(static_cast<double>(memory.PeakPagefileUsage));

    const std::wstring url = server.Url("/installer.exe");
    const std::wstring scratch = installDir + L"\\bench_read.bin";
    // Alternate the order of the two readers from run to run.
    for (int which = 0; which < 2; ++which) {
      const bool isSmall = (which == 0) == (run % 2 == 0);
      const DWORD readSize = isSmall ? 1023 : 65536;
      const int64_t begin = Ticks();
      const unsigned long long got = ReadLoop(url, readSize, scratch);
      const double seconds = TicksToSeconds(Ticks() - begin);
      if (got != installer.size()) {
        fprintf(stderr, "launch_bench: the %lu-byte reader got %llu bytes\n", readSize, got);
        status = 1;
      }
      (isSmall ? small : large).push_back(seconds);
    }
    printf(
        "run %d: install %.3f s, launcher run %.3f s, cpu %.3f s, peak ws %.1f MiB, "
        "1023-byte reader %.3f s, 64 KiB reader %.3f s\n",
        run + 1, install.back(), total.back(), cpu.back(), workingSet.back() / kMiB, small.back(),
        large.back());
    fflush(stdout);
  }
  DeleteFileW(installed.c_str());
  DeleteFileW(stamp.c_str());
  const double size = static_cast<double>(installer.size());
  printf("install_s=%.6f\ninstall_mibps=%.3f\n", Median(install), size / kMiB / Median(install));
  printf("reader1023_mibps=%.3f\nreader65536_mibps=%.3f\n", size / kMiB / Median(small),
         size / kMiB / Median(large));
  printf("reader1023_us_per_call=%.2f\n", 1e6 * Median(small) / (size / 1023));
  printf("launcher_run_s=%.3f\nlauncher_cpu_s=%.3f\n", Median(total), Median(cpu));
  printf("peak_working_set=%.0f\npeak_pagefile=%.0f\n", Median(workingSet), Median(pagefile));
  printf("serving\n");
  fflush(stdout);
  server.WaitForRequest("/quit", holdMs);
  server.Stop();
  return status;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  if (mode == L"client" && argc == 6) {
    return RunClientPath(argv[2], argv[3], argv[4], _wtoi(argv[5]));
  }
  if (mode == L"install" && argc == 8) {
    return RunInstallPath(argv[2], argv[3], static_cast<uint16_t>(_wtoi(argv[4])),
                          wcstoul(argv[5], nullptr, 10), _wtoi(argv[6]),
                          wcstoul(argv[7], nullptr, 10));
  }
  fprintf(stderr,
          "usage: launch_bench.exe client LAUNCHER FLOOR CLIENT RUNS\n"
          "       launch_bench.exe install LAUNCHER CLIENT PORT SIZE_MB RUNS HOLD_MS\n");
  return 2;
}
