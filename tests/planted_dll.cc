// A DLL to plant beside an exe under the name of one that it uses
// (wininet.dll, gdiplus.dll, bcrypt.dll): when loaded, it appends the path
// of the process that loaded it to the file named by PIMBREL_PLANTED_RECORD.
// It exports nothing, so a process that really used it would fail next.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t record[1024] = {};
  if (!GetEnvironmentVariableW(L"PIMBREL_PLANTED_RECORD", record, 1024)) return TRUE;
  wchar_t self[1024] = {};
  const DWORD length = GetModuleFileNameW(nullptr, self, 1022);
  self[length] = L'\n';
  HANDLE file = CreateFileW(record, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, self, (length + 1) * sizeof(wchar_t), &written, nullptr);
    CloseHandle(file);
  }
  return TRUE;
}
