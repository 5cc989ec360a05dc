// Helpers shared by the test programs: files, folders, processes, registry.
#pragma once

#include <windows.h>

#include <string>

// Folder of the running test program (the build folder, where every test
// program, the launcher and the helper programs are).
std::wstring BuildDirectory();
// A new empty folder under the temp folder, named after |tag|.
std::wstring MakeTempDirectory(const std::wstring& tag);
// Removes a folder and everything below it; true when it is gone.
bool RemoveTree(const std::wstring& path);

std::string ReadFileBytes(const std::wstring& path, bool* ok = nullptr);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
bool PathExists(const std::wstring& path);
// Waits until |path| exists; true when it does.
bool WaitForPath(const std::wstring& path, DWORD timeoutMs);

std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);

struct ProcessResult {
  bool started = false;
  bool timedOut = false;
  DWORD exitCode = 0;
  std::string output;  // everything the process wrote to stdout
  DWORD elapsedMs = 0;
};

// Runs |commandLine| with stdout captured, waits at most |timeoutMs| (and
// kills it then). |directory| is its current folder, or inherited when empty.
ProcessResult RunProcess(const std::wstring& commandLine, DWORD timeoutMs,
                         const std::wstring& directory = L"");

// The launcher's App Paths registration under HKLM.
bool SetRegisteredClient(const std::wstring& path);
void DeleteRegisteredClient();

// What the record_args helper wrote when it was started from |exePath|:
// its full command line, then each parsed argument, one a line (UTF-8).
std::wstring RecordFileFor(const std::wstring& exePath);
