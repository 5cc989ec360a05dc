// Developer tool: shows the splash as a run would, for screenshots. Frame
// times are measured by bench/splash_bench.
//   splash_preview.exe [debug]   the splash over a worker that never finishes
//                                before it, then exit
#include <windows.h>

#include <cstring>

#include "launcher/shared_state.h"
#include "splash/splash_window.h"

int main(int argc, char** argv) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  SplashWindowParams splash = {};
  splash.gdiplusInput = Gdiplus::GdiplusStartupInput();
  splash.instance = instance;
  splash.width = 200;
  splash.height = 200;
  Gdiplus::GdiplusStartup(&splash.gdiplusToken, &splash.gdiplusInput, nullptr);
  g_debugLabel = argc > 1 && strcmp(argv[1], "debug") == 0;
  RunSplashWindow(splash);
  Gdiplus::GdiplusShutdown(splash.gdiplusToken);
  return 0;
}
