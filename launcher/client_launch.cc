#include "launcher/client_launch.h"

#include <wchar.h>

bool ReadInstalledClientPath(wchar_t* path) {
  // One character more than the caller's buffer, zero-filled, so that a
  // value stored without a terminator still reads as terminated text.
  wchar_t value[kClientPathCapacity + 1] = {};
  DWORD size = kClientPathCapacity * sizeof(wchar_t);
  DWORD type = 0;
  HKEY key = nullptr;
  if (RegOpenKeyW(HKEY_LOCAL_MACHINE, kAppPathsKey, &key) != ERROR_SUCCESS) return false;
  const LONG status =
      RegQueryValueExW(key, L"", nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return false;
  const size_t length = wcslen(value);
  if (length >= kClientPathCapacity) return false;  // no room for the terminator
  wmemcpy(path, value, length + 1);
  return true;
}

bool BuildClientCommandLine(const wchar_t* path, const wchar_t* appIdText, wchar_t* commandLine,
                            size_t capacity) {
  const size_t pathLength = wcslen(path);
  const size_t idLength = wcslen(appIdText);
  if (pathLength + idLength + 5 + 1 > capacity) return false;
  wchar_t* out = commandLine;
  *out++ = L'"';
  wmemcpy(out, path, pathLength);
  out += pathLength;
  *out++ = L'"';
  *out++ = L' ';
  *out++ = L'"';
  wmemcpy(out, appIdText, idLength);
  out += idLength;
  *out++ = L'"';
  *out = L'\0';
  return true;
}

void LaunchClient(const wchar_t* path, const LaunchContext* context) {
  if (!FileExists(path)) return;
  wchar_t commandLine[kCommandLineCapacity] = {};
  if (!BuildClientCommandLine(path, context->appIdText, commandLine, kCommandLineCapacity)) return;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION process = {};
  // The application name is the path itself: no search, no parsing of the
  // command line for the program to run.
  if (CreateProcessW(path, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                     &process)) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
}
