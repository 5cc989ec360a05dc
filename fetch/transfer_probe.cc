// A GUI program, like the launcher, that runs the transfers its command line
// names and then stays alive for a minute before it exits. Whatever a
// redirected stdout receives meanwhile is what the transfers themselves
// made arrive, not what the C runtime flushes at exit.
//   transfer_probe.exe fetch URL | download URL PATH ...
#include <windows.h>
#include <shellapi.h>

#include <wchar.h>

#include "fetch/http_transfer.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  static char text[102400];
  for (int i = 1; argv && i < argc; ++i) {
    if (wcscmp(argv[i], L"fetch") == 0 && i + 1 < argc) {
      FetchText(argv[i + 1], text, sizeof(text));
      i += 1;
    } else if (wcscmp(argv[i], L"download") == 0 && i + 2 < argc) {
      DownloadToFile(argv[i + 1], argv[i + 2]);
      i += 2;
    }
  }
  LocalFree(argv);
  Sleep(60000);
  return 0;
}
