// The floor of the installed-client path: a GUI program that does nothing
// but start the program named by its first argument, the way the launcher
// starts the client (quoted path and quoted identifier, CreateProcessW, no
// wait).
#include <windows.h>
#include <shellapi.h>

#include <wchar.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv || argc < 2) return 1;
  wchar_t commandLine[600] = {};
  swprintf(commandLine, 600, L"\"%ls\" \"appid:426429\"", argv[1]);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION process = {};
  if (CreateProcessW(argv[1], commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                     &process)) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  return 0;
}
