// Splash timings, under wine64 on the bench display.
//   splash_bench.exe frames N   median and worst of N RenderSplashFrame calls
//                               (off-screen) and of N PaintSplash calls on a
//                               live layered window, and the median cost of
//                               each step a frame is made of
//   splash_bench.exe phase      one whole RunSplashWindow (no worker ends it):
//                               wall time, process CPU time, frame count
// Prints key=value lines, times in milliseconds.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "launcher/shared_state.h"
#include "splash/splash_renderer.h"
#include "splash/splash_window.h"

using namespace Gdiplus::DllExports;

namespace {

double NowMs() {
  LARGE_INTEGER frequency, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&now);
  return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

struct Timing {
  double median = 0;
  double worst = 0;
};

Timing Time(int count, const std::function<void(int)>& work) {
  std::vector<double> times;
  for (int i = 0; i < count; ++i) {
    const double begin = NowMs();
    work(i);
    times.push_back(NowMs() - begin);
  }
  std::sort(times.begin(), times.end());
  Timing timing;
  timing.median = count % 2 ? times[count / 2] : (times[count / 2 - 1] + times[count / 2]) / 2;
  timing.worst = times.back();
  return timing;
}

HWND CreateTimingWindow(HINSTANCE instance) {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = DefWindowProcW;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = L"PimbrelSplashBench";
  RegisterClassW(&windowClass);
  HWND window =
      CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_LAYERED, windowClass.lpszClassName, nullptr,
                      WS_POPUP, 860, 440, 200, 200, nullptr, nullptr, instance, nullptr);
  ShowWindow(window, SW_SHOWNOACTIVATE);
  return window;
}

void Frames(HINSTANCE instance, int count) {
  LoadSplashImage();
  std::vector<uint32_t> pixels(kSplashSurfaceWidth * kSplashSurfaceHeight);
  const Timing offScreen = Time(count, [&](int i) {
    RenderSplashFrame(pixels.data(), kSplashSurfaceWidth, kSplashSurfaceHeight, i % 101, false);
  });
  HWND window = CreateTimingWindow(instance);
  const Timing painted = Time(count, [&](int i) {
    g_progress.store(i % 101);
    PaintSplash(window);
  });
  printf("render_median_ms=%.3f\nrender_worst_ms=%.3f\n", offScreen.median, offScreen.worst);
  printf("paint_median_ms=%.3f\npaint_worst_ms=%.3f\n", painted.median, painted.worst);

  // The steps of one frame, each timed on its own with the renderer's calls.
  HDC windowDc = GetDC(window);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = kSplashSurfaceWidth;
  info.bmiHeader.biHeight = -kSplashSurfaceHeight;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  const Timing dib = Time(count, [&](int) {
    HDC memoryDc = CreateCompatibleDC(windowDc);
    void* bits = nullptr;
    HBITMAP surface = CreateDIBSection(windowDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ kept = SelectObject(memoryDc, surface);
    SelectObject(memoryDc, kept);
    DeleteObject(surface);
    DeleteDC(memoryDc);
  });
  // A fresh section's pages are mapped on first touch, as in every frame.
  const Timing fresh = Time(count, [&](int) {
    void* bits = nullptr;
    HBITMAP surface = CreateDIBSection(windowDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bits) memset(bits, 0, kSplashSurfaceWidth * kSplashSurfaceHeight * 4);
    DeleteObject(surface);
  });
  const Timing paint = Time(count, [&](int) {
    PAINTSTRUCT record = {};
    BeginPaint(window, &record);
    RECT rect = {};
    GetWindowRect(window, &rect);
    EndPaint(window, &record);
  });
  Gdiplus::GpBitmap* bitmap = nullptr;
  GdipCreateBitmapFromScan0(kSplashSurfaceWidth, kSplashSurfaceHeight, kSplashSurfaceWidth * 4,
                            PixelFormat32bppPARGB, reinterpret_cast<BYTE*>(pixels.data()), &bitmap);
  const Timing context = Time(count, [&](int) {
    Gdiplus::GpGraphics* graphics = nullptr;
    GdipGetImageGraphicsContext(bitmap, &graphics);
    GdipDeleteGraphics(graphics);
  });
  Gdiplus::GpGraphics* graphics = nullptr;
  GdipGetImageGraphicsContext(bitmap, &graphics);
  // What the renderer's memset stands in for.
  const Timing clear = Time(count, [&](int) { GdipGraphicsClear(graphics, 0x00FFFFFF); });
  const Timing zero = Time(count, [&](int) { memset(pixels.data(), 0, pixels.size() * 4); });
  GdipSetSmoothingMode(graphics, Gdiplus::SmoothingModeHighQuality);
  const Timing artwork =
      Time(count, [&](int) { GdipDrawImageRectI(graphics, g_splashImage, 0, 0, 200, 200); });
  const Timing ring = Time(count, [&](int i) {
    Gdiplus::GpPen* pen = nullptr;
    GdipCreatePen1(0xDC28FF28, 1.0f, Gdiplus::UnitWorld, &pen);
    GdipSetPenWidth(pen, 13.0f);
    GdipSetPenStartCap(pen, Gdiplus::LineCapRound);
    GdipSetPenEndCap(pen, Gdiplus::LineCapRound);
    GdipDrawArcI(graphics, pen, 49, 49, 101, 101, -230.0f, static_cast<float>(i % 101 * 280 / 100));
    GdipDeletePen(pen);
  });
  const Timing font = Time(count, [&](int) {
    Gdiplus::GpFontFamily* family = nullptr;
    GdipCreateFontFamilyFromName(L"Arial", nullptr, &family);
    Gdiplus::GpFont* arial = nullptr;
    GdipCreateFont(family, 28.0f, Gdiplus::FontStyleBold, Gdiplus::UnitPixel, &arial);
    GdipDeleteFontFamily(family);
    GdipDeleteFont(arial);
  });
  Gdiplus::GpFontFamily* family = nullptr;
  GdipCreateFontFamilyFromName(L"Arial", nullptr, &family);
  Gdiplus::GpFont* arial = nullptr;
  GdipCreateFont(family, 28.0f, Gdiplus::FontStyleBold, Gdiplus::UnitPixel, &arial);
  const Timing text = Time(count, [&](int i) {
    Gdiplus::GpSolidFill* white = nullptr;
    GdipCreateSolidFill(0xFFFFFFFF, &white);
    Gdiplus::GpStringFormat* format = nullptr;
    GdipCreateStringFormat(0, LANG_NEUTRAL, &format);
    GdipSetStringFormatAlign(format, Gdiplus::StringAlignmentCenter);
    GdipSetStringFormatLineAlign(format, Gdiplus::StringAlignmentCenter);
    wchar_t percent[16];
    wsprintfW(percent, L"%d%%", i % 101);
    const Gdiplus::RectF middle(0.0f, 0.0f, 200.0f, 200.0f);
    GdipDrawString(graphics, percent, lstrlenW(percent), arial, &middle, format, white);
    GdipDeleteStringFormat(format);
    GdipDeleteBrush(white);
  });
  HDC memoryDc = CreateCompatibleDC(windowDc);
  void* bits = nullptr;
  HBITMAP surface = CreateDIBSection(windowDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ kept = SelectObject(memoryDc, surface);
  const Timing push = Time(count, [&](int) {
    SIZE size = {200, 200};
    POINT source = {0, 0};
    BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    UpdateLayeredWindow(window, windowDc, nullptr, &size, memoryDc, &source, 0, &blend, ULW_ALPHA);
  });
  printf("step_dc_bitmap_ms=%.3f\nstep_context_ms=%.3f\nstep_gdip_clear_ms=%.3f\n", dib.median,
         context.median, clear.median);
  printf("step_fresh_dib_ms=%.3f\nstep_begin_end_paint_ms=%.3f\n", fresh.median, paint.median);
  printf("step_memset_ms=%.3f\nstep_artwork_ms=%.3f\n", zero.median, artwork.median);
  printf("step_ring_ms=%.3f\nstep_font_ms=%.3f\nstep_text_ms=%.3f\nstep_push_ms=%.3f\n",
         ring.median, font.median, text.median, push.median);
  SelectObject(memoryDc, kept);
  DeleteObject(surface);
  DeleteDC(memoryDc);
  GdipDeleteFont(arial);
  GdipDeleteFontFamily(family);
  GdipDeleteGraphics(graphics);
  GdipDisposeImage(bitmap);
  ReleaseDC(window, windowDc);
  DestroyWindow(window);
}

double FileTimeMs(const FILETIME& time) {
  return (static_cast<double>(time.dwHighDateTime) * 4294967296.0 + time.dwLowDateTime) / 1e4;
}

double ProcessCpuMs() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  return FileTimeMs(kernel) + FileTimeMs(user);
}

void Phase(HINSTANCE instance) {
  SplashWindowParams splash = {};
  splash.instance = instance;
  splash.width = 200;
  splash.height = 200;
  g_progress.store(0);
  const double cpuBefore = ProcessCpuMs();
  const double begin = NowMs();
  RunSplashWindow(splash);
  const double wall = NowMs() - begin;
  const double cpu = ProcessCpuMs() - cpuBefore;
  printf("phase_wall_ms=%.1f\nphase_cpu_ms=%.1f\n", wall, cpu);
}

}  // namespace

int main(int argc, char** argv) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  Gdiplus::GdiplusStartupInput input;
  ULONG_PTR token = 0;
  Gdiplus::GdiplusStartup(&token, &input, nullptr);
  int status = 0;
  if (argc == 3 && strcmp(argv[1], "frames") == 0) {
    Frames(instance, atoi(argv[2]));
  } else if (argc == 2 && strcmp(argv[1], "phase") == 0) {
    Phase(instance);
  } else {
    fprintf(stderr, "usage: splash_bench.exe frames N | phase\n");
    status = 2;
  }
  Gdiplus::GdiplusShutdown(token);
  return status;
}
