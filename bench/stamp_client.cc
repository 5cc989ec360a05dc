// A stand-in client or installer for the benchmarks: the first thing it does
// is read QueryPerformanceCounter, then writes that count and its command
// line to the file PIMBREL_STAMP_FILE names, and exits. The counter is
// machine-wide, so the driver compares it with its own readings.
#include <windows.h>

#include <wchar.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  LARGE_INTEGER started;
  QueryPerformanceCounter(&started);
  wchar_t target[1024] = {};
  if (!GetEnvironmentVariableW(L"PIMBREL_STAMP_FILE", target, 1000)) return 1;
  wchar_t text[1400] = {};
  swprintf(text, 1400, L"%lld\n%ls\n", started.QuadPart, GetCommandLineW());
  char bytes[4200] = {};
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof(bytes), nullptr, nullptr);
  // Written under a temporary name and renamed, so a reader never sees half a file.
  wchar_t partial[1030] = {};
  swprintf(partial, 1030, L"%ls.part", target);
  HANDLE file = CreateFileW(partial, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  WriteFile(file, bytes, size > 0 ? static_cast<DWORD>(size - 1) : 0, &written, nullptr);
  CloseHandle(file);
  MoveFileExW(partial, target, MOVEFILE_REPLACE_EXISTING);
  return 0;
}
