// Developer tool: shows the splash as a run would, for screenshots, or times
// its frames.
//   splash_preview.exe [debug]   the splash over a worker that never finishes
//                                before it, then exit
//   splash_preview.exe time      median time of 100 off-screen renders and of
//                                100 PaintSplash calls on a live window
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "launcher/shared_state.h"
#include "splash/splash_renderer.h"
#include "splash/splash_window.h"

namespace {

// Median of |count| timings of |render|, in milliseconds.
template <typename Render>
double MedianMs(int count, Render render) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  std::vector<double> times;
  for (int i = 0; i < count; ++i) {
    LARGE_INTEGER begin, end;
    QueryPerformanceCounter(&begin);
    render(i);
    QueryPerformanceCounter(&end);
    times.push_back(1000.0 * static_cast<double>(end.QuadPart - begin.QuadPart) /
                    static_cast<double>(frequency.QuadPart));
  }
  std::sort(times.begin(), times.end());
  return (times[count / 2 - 1] + times[count / 2]) / 2.0;
}

// Times the renders; the window is a bare layered popup of the splash's size.
void TimeFrames(HINSTANCE instance) {
  LoadSplashImage();
  std::vector<uint32_t> pixels(kSplashSurfaceWidth * kSplashSurfaceHeight);
  const double offScreen = MedianMs(100, [&](int i) {
    RenderSplashFrame(pixels.data(), kSplashSurfaceWidth, kSplashSurfaceHeight, i, false);
  });

  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = DefWindowProcW;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = L"PimbrelSplashTiming";
  RegisterClassW(&windowClass);
  HWND window =
      CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_LAYERED, windowClass.lpszClassName, nullptr,
                      WS_POPUP, 860, 440, 200, 200, nullptr, nullptr, instance, nullptr);
  ShowWindow(window, SW_SHOWNOACTIVATE);
  const double painted = MedianMs(100, [&](int i) {
    g_progress.store(i);
    PaintSplash(window);
  });
  DestroyWindow(window);
  printf("median of 100 frames: RenderSplashFrame %.3f ms, PaintSplash %.3f ms\n", offScreen,
         painted);
}

}  // namespace

int main(int argc, char** argv) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  SplashWindowParams splash = {};
  splash.gdiplusInput = Gdiplus::GdiplusStartupInput();
  splash.instance = instance;
  splash.width = 200;
  splash.height = 200;
  Gdiplus::GdiplusStartup(&splash.gdiplusToken, &splash.gdiplusInput, nullptr);
  if (argc > 1 && strcmp(argv[1], "time") == 0) {
    TimeFrames(instance);
  } else {
    g_debugLabel = argc > 1 && strcmp(argv[1], "debug") == 0;
    RunSplashWindow(splash);
  }
  Gdiplus::GdiplusShutdown(splash.gdiplusToken);
  return 0;
}
