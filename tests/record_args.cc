// A stand-in client or installer: records how it was started in
// "<its own path>.args.txt" (UTF-8: the whole command line, then each parsed
// argument, one a line) and exits; PIMBREL_RECORD_FILE names another file. With PIMBREL_RECORD_HOLD_MS set it stays
// alive that long first, so callers can see they did not wait for it.
#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <string>

static std::string Utf8(const wchar_t* text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n - 1 : 0), '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, nullptr, nullptr);
  return out;
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t self[1024] = {};
  GetModuleFileNameW(nullptr, self, 1023);
  const wchar_t* commandLine = GetCommandLineW();
  std::string text = Utf8(commandLine) + "\n";
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(commandLine, &argc);
  for (int i = 0; i < argc; ++i) text += Utf8(argv[i]) + "\n";
  LocalFree(argv);
  // Write to a temporary name and rename, so a reader never sees half a file.
  wchar_t named[1024] = {};
  const std::wstring target = GetEnvironmentVariableW(L"PIMBREL_RECORD_FILE", named, 1024)
                                  ? std::wstring(named)
                                  : std::wstring(self) + L".args.txt";
  const std::wstring partial = target + L".part";
  HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    MoveFileExW(partial.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
  }
  wchar_t hold[32] = {};
  if (GetEnvironmentVariableW(L"PIMBREL_RECORD_HOLD_MS", hold, 32)) Sleep(wcstoul(hold, nullptr, 10));
  return 0;
}
