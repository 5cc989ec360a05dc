#include "splash/splash_renderer.h"

#include <objidl.h>

#include <cstring>

#include "launcher/shared_state.h"
#include "resources/resource.h"

using Gdiplus::GpBitmap;
using Gdiplus::GpFont;
using Gdiplus::GpFontFamily;
using Gdiplus::GpGraphics;
using Gdiplus::GpPen;
using Gdiplus::GpSolidFill;
using Gdiplus::GpStringFormat;
using Gdiplus::RectF;
using Gdiplus::DllExports::GdipCreateBitmapFromScan0;
using Gdiplus::DllExports::GdipCreateFont;
using Gdiplus::DllExports::GdipCreateFontFamilyFromName;
using Gdiplus::DllExports::GdipCreatePen1;
using Gdiplus::DllExports::GdipCreateSolidFill;
using Gdiplus::DllExports::GdipCreateStringFormat;
using Gdiplus::DllExports::GdipDeleteBrush;
using Gdiplus::DllExports::GdipDeleteFont;
using Gdiplus::DllExports::GdipDeleteFontFamily;
using Gdiplus::DllExports::GdipDeleteGraphics;
using Gdiplus::DllExports::GdipDeletePen;
using Gdiplus::DllExports::GdipDeleteStringFormat;
using Gdiplus::DllExports::GdipDisposeImage;
using Gdiplus::DllExports::GdipDrawArcI;
using Gdiplus::DllExports::GdipDrawImageRectI;
using Gdiplus::DllExports::GdipDrawString;
using Gdiplus::DllExports::GdipGetImageGraphicsContext;
using Gdiplus::DllExports::GdipGetImageHeight;
using Gdiplus::DllExports::GdipGetImageWidth;
using Gdiplus::DllExports::GdipLoadImageFromStream;
using Gdiplus::DllExports::GdipSetPenEndCap;
using Gdiplus::DllExports::GdipSetPenStartCap;
using Gdiplus::DllExports::GdipSetPenWidth;
using Gdiplus::DllExports::GdipSetSmoothingMode;
using Gdiplus::DllExports::GdipSetStringFormatAlign;
using Gdiplus::DllExports::GdipSetStringFormatLineAlign;

Gdiplus::GpImage* g_splashImage = nullptr;

namespace {

// A GDI+ image refuses a second thread while one is drawing it (ObjectBusy),
// and renders run on two threads: only the artwork draw holds this lock.
SRWLOCK g_splashImageLock = SRWLOCK_INIT;

constexpr Gdiplus::ARGB kClearColour = 0x00FFFFFF;
constexpr Gdiplus::ARGB kRingColour = 0xDC28FF28;
constexpr Gdiplus::ARGB kPercentColour = 0xFFFFFFFF;
constexpr Gdiplus::ARGB kLabelColour = 0xFFFF0000;
constexpr int32_t kFullSweepDegrees = 280;

// Draws the artwork at (0, 0) at its own size, when there is one.
void DrawSplashArtwork(GpGraphics* graphics) {
  if (!g_splashImage) return;
  AcquireSRWLockExclusive(&g_splashImageLock);
  UINT width = 0;
  UINT height = 0;
  GdipGetImageWidth(g_splashImage, &width);
  GdipGetImageHeight(g_splashImage, &height);
  GdipDrawImageRectI(graphics, g_splashImage, 0, 0, static_cast<INT>(width),
                     static_cast<INT>(height));
  ReleaseSRWLockExclusive(&g_splashImageLock);
}

// A bold font of |family| at |size| pixels; null when the family is not installed.
GpFont* CreateBoldPixelFont(const wchar_t* family, float size) {
  GpFontFamily* fontFamily = nullptr;
  GdipCreateFontFamilyFromName(family, nullptr, &fontFamily);
  GpFont* font = nullptr;
  GdipCreateFont(fontFamily, size, Gdiplus::FontStyleBold, Gdiplus::UnitPixel, &font);
  GdipDeleteFontFamily(fontFamily);
  return font;
}

// Ring, percentage and, in debug mode, the label, for a progress in 0..100.
void DrawSplashProgress(GpGraphics* graphics, int32_t progress, bool debugLabel) {
  GpPen* pen = nullptr;
  GdipCreatePen1(kRingColour, 1.0f, Gdiplus::UnitWorld, &pen);
  GdipSetPenWidth(pen, 13.0f);
  GdipSetPenStartCap(pen, Gdiplus::LineCapRound);
  GdipSetPenEndCap(pen, Gdiplus::LineCapRound);
  const int32_t sweep = progress * kFullSweepDegrees / 100;
  // -230 degrees is the direction of 130: the ring starts at the lower left.
  GdipDrawArcI(graphics, pen, 49, 49, 101, 101, -230.0f, static_cast<float>(sweep));

  wchar_t text[16];
  wsprintfW(text, L"%d%%", progress);
  GpSolidFill* white = nullptr;
  GdipCreateSolidFill(kPercentColour, &white);
  GpStringFormat* format = nullptr;
  GdipCreateStringFormat(0, LANG_NEUTRAL, &format);
  GdipSetStringFormatAlign(format, Gdiplus::StringAlignmentCenter);
  GdipSetStringFormatLineAlign(format, Gdiplus::StringAlignmentCenter);
  GpFont* arial = CreateBoldPixelFont(L"Arial", 28.0f);
  const RectF middle(0.0f, 0.0f, 200.0f, 200.0f);
  GdipDrawString(graphics, text, lstrlenW(text), arial, &middle, format, white);

  if (debugLabel) {
    GpFont* labelFont = CreateBoldPixelFont(L"宋体", 16.0f);
    GpSolidFill* red = nullptr;
    GdipCreateSolidFill(kLabelColour, &red);
    const RectF bottom(0.0f, 160.0f, 200.0f, 40.0f);
    GdipDrawString(graphics, L"调试模式", 4, labelFont, &bottom, format, red);
    GdipDeleteBrush(red);
    GdipDeleteFont(labelFont);
  }

  GdipDeleteFont(arial);
  GdipDeleteStringFormat(format);
  GdipDeleteBrush(white);
  GdipDeletePen(pen);
}

}  // namespace

void LoadSplashImage() {
  HMODULE module = GetModuleHandleW(nullptr);
  HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(IDR_SPLASH_PNG), L"PNG");
  if (!resource) return;
  const DWORD size = SizeofResource(module, resource);
  HGLOBAL loaded = LoadResource(module, resource);
  const void* bytes = LockResource(loaded);
  if (!size || !bytes) return;

  // The image reads from its stream for its whole life, so the copy it
  // streams from is never freed, and releasing the stream must not free it.
  HGLOBAL block = GlobalAlloc(GMEM_FIXED, size);
  if (!block) return;
  void* copy = GlobalLock(block);
  if (!copy) return;
  memcpy(copy, bytes, size);
  IStream* stream = nullptr;
  if (FAILED(CreateStreamOnHGlobal(block, FALSE, &stream)) || !stream) {
    GlobalUnlock(block);
    return;
  }

  Gdiplus::GpImage* image = nullptr;
  GdipLoadImageFromStream(stream, &image);
  g_splashImage = image;

  GlobalUnlock(block);
  stream->Release();
  FreeResource(loaded);
}

void RenderSplashFrame(void* pixels, int32_t width, int32_t height, int32_t progress,
                       bool debugLabel) {
  // A premultiplied GDI+ bitmap over the caller's pixels: drawing through a
  // DC would lose the alpha of the text under Wine, and any layered window
  // needs premultiplied pixels anyway.
  //
  // The clear to transparent white is all zero bytes in premultiplied
  // pixels. Written directly: GdipGraphicsClear takes 1.8 ms of the frame
  // on the 468 x 288 surface under Wine, memset a few microseconds.
  static_assert(kClearColour >> 24 == 0, "a transparent clear premultiplies to zero");
  memset(pixels, 0, static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
  GpBitmap* surface = nullptr;
  GdipCreateBitmapFromScan0(width, height, width * 4, PixelFormat32bppPARGB,
                            static_cast<BYTE*>(pixels), &surface);
  GpGraphics* graphics = nullptr;
  GdipGetImageGraphicsContext(surface, &graphics);
  GdipSetSmoothingMode(graphics, Gdiplus::SmoothingModeHighQuality);

  DrawSplashArtwork(graphics);
  // Read as unsigned, a negative value is above 100 too.
  if (static_cast<uint32_t>(progress) <= 100) DrawSplashProgress(graphics, progress, debugLabel);

  GdipDeleteGraphics(graphics);
  GdipDisposeImage(surface);
}

void PaintSplash(HWND window) {
  PAINTSTRUCT paint = {};
  HDC windowDc = BeginPaint(window, &paint);
  RECT rect = {};
  GetWindowRect(window, &rect);
  SIZE size = {rect.right - rect.left, rect.bottom - rect.top};

  HDC memoryDc = CreateCompatibleDC(windowDc);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = kSplashSurfaceWidth;
  info.bmiHeader.biHeight = -kSplashSurfaceHeight;  // top-down, like a GDI+ bitmap
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP surface = CreateDIBSection(windowDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ kept = SelectObject(memoryDc, surface);

  // One read, so that the ring and the percentage show the same value.
  if (bits) {
    RenderSplashFrame(bits, kSplashSurfaceWidth, kSplashSurfaceHeight, g_progress.load(),
                      g_debugLabel);
  }

  // No destination point: the frame lands wherever the window is when it is
  // pushed. A point read at the start of the render would move the window
  // back if the user dragged it meanwhile (renders run on two threads).
  POINT source = {0, 0};
  BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  UpdateLayeredWindow(window, windowDc, nullptr, &size, memoryDc, &source, 0, &blend, ULW_ALPHA);

  SelectObject(memoryDc, kept);
  DeleteObject(surface);
  DeleteDC(memoryDc);
  EndPaint(window, &paint);
}
