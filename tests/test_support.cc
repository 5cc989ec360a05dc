#include "tests/test_support.h"

#include <shellapi.h>

#include <vector>

#include "launcher/client_launch.h"

std::wstring BuildDirectory() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring text = path;
  return text.substr(0, text.rfind(L'\\'));
}

std::wstring MakeTempDirectory(const std::wstring& tag) {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  for (int i = 0;; ++i) {
    std::wstring path = std::wstring(temp) + L"pimbrel_" + tag + L"_" +
                        std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(i);
    if (CreateDirectoryW(path.c_str(), nullptr)) return path;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return L"";
  }
}

bool RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW data;
  HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &data);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = path + L"\\" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(child);
      } else {
        SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(child.c_str());
      }
    } while (FindNextFileW(search, &data));
    FindClose(search);
  }
  RemoveDirectoryW(path.c_str());
  return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES;
}

std::string ReadFileBytes(const std::wstring& path, bool* ok) {
  std::string bytes;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (ok) *ok = file != INVALID_HANDLE_VALUE;
  if (file == INVALID_HANDLE_VALUE) return bytes;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) bytes.append(buffer, got);
  CloseHandle(file);
  return bytes;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == bytes.size();
}

bool PathExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool WaitForPath(const std::wstring& path, DWORD timeoutMs) {
  // Under Wine a file renamed into place can show before the rename lets go
  // of it: wait until it can be opened for reading, not only until it shows.
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
      if (attributes & FILE_ATTRIBUTE_DIRECTORY) return true;
      HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
      if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return true;
      }
    }
    if (GetTickCount64() >= deadline) return false;
    Sleep(10);
  }
}

std::wstring Widen(const std::string& text) {
  if (text.empty()) return L"";
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
  return out;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return "";
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr,
                      nullptr);
  return out;
}

ProcessResult RunProcess(const std::wstring& commandLine, DWORD timeoutMs,
                         const std::wstring& directory) {
  ProcessResult result;
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  CreatePipe(&readEnd, &writeEnd, &inherit, 0);
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  startup.hStdInput = nullptr;
  PROCESS_INFORMATION process = {};
  std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
  line.push_back(L'\0');
  const ULONGLONG begin = GetTickCount64();
  result.started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                  directory.empty() ? nullptr : directory.c_str(), &startup,
                                  &process) != FALSE;
  CloseHandle(writeEnd);
  if (!result.started) {
    CloseHandle(readEnd);
    return result;
  }
  // Drain stdout on a thread so a chatty child never blocks on a full pipe.
  struct Drain {
    HANDLE pipe;
    std::string* out;
  } drain = {readEnd, &result.output};
  HANDLE reader = CreateThread(
      nullptr, 0,
      [](void* arg) -> DWORD {
        Drain* d = static_cast<Drain*>(arg);
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(d->pipe, buffer, sizeof(buffer), &got, nullptr) && got > 0)
          d->out->append(buffer, got);
        return 0;
      },
      &drain, 0, nullptr);
  if (WaitForSingleObject(process.hProcess, timeoutMs) != WAIT_OBJECT_0) {
    result.timedOut = true;
    TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, 5000);
  }
  result.elapsedMs = static_cast<DWORD>(GetTickCount64() - begin);
  GetExitCodeProcess(process.hProcess, &result.exitCode);
  // A grandchild may still hold the pipe's write end: do not wait for it forever.
  if (WaitForSingleObject(reader, 5000) != WAIT_OBJECT_0) CancelSynchronousIo(reader);
  WaitForSingleObject(reader, 1000);
  CloseHandle(reader);
  CloseHandle(readEnd);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return result;
}

bool SetRegisteredClient(const std::wstring& path) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kAppPathsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return false;
  const LONG status =
      RegSetValueExW(key, L"", 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                     static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

void DeleteRegisteredClient() { RegDeleteKeyW(HKEY_LOCAL_MACHINE, kAppPathsKey); }

std::wstring RecordFileFor(const std::wstring& exePath) { return exePath + L".args.txt"; }
