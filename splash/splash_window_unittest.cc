// The splash window run in-process as the entry point runs it: GDI+ started,
// RunSplashWindow on the main thread, a helper thread playing the install
// worker and the user. What reaches the screen is read back from the screen DC.
#include "splash/splash_window.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <set>
#include <thread>
#include <vector>

#include "launcher/shared_state.h"
#include "splash/splash_renderer.h"

namespace {

// The fixture's display is 1920 x 1080.
constexpr RECT kCentred = {860, 440, 1060, 640};

ULONGLONG Now() { return GetTickCount64(); }
// Milliseconds from |from| to |to|, negative when |to| came first.
int64_t Ms(ULONGLONG from, ULONGLONG to) { return static_cast<int64_t>(to - from); }

// Polls |done| every 5 ms; true when it held within |timeoutMs|.
bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  const ULONGLONG deadline = Now() + timeoutMs;
  while (!done()) {
    if (Now() >= deadline) return false;
    Sleep(5);
  }
  return true;
}

HWND WaitForSplashWindow() {
  HWND window = nullptr;
  WaitUntil(
      [&] {
        window = FindWindowW(kSplashClassName, nullptr);
        return window && IsWindowVisible(window);
      },
      10000);
  return window;
}

// A 200 x 200 piece of the screen at |left|, |top|, as 0x00RRGGBB.
struct Screen {
  int left = 0, top = 0;
  std::vector<uint32_t> pixels;
  uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * 200 + x]; }
};

Screen CaptureScreen(int left, int top) {
  Screen shot;
  shot.left = left;
  shot.top = top;
  shot.pixels.assign(200 * 200, 0);
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = 200;
  info.bmiHeader.biHeight = -200;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ kept = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, 200, 200, screen, left, top, SRCCOPY);
  GdiFlush();
  for (size_t i = 0; i < shot.pixels.size(); ++i) {
    shot.pixels[i] = static_cast<const uint32_t*>(bits)[i] & 0xFFFFFF;
  }
  SelectObject(memory, kept);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return shot;
}

uint32_t Red(uint32_t p) { return (p >> 16) & 0xFF; }
uint32_t Green(uint32_t p) { return (p >> 8) & 0xFF; }
uint32_t Blue(uint32_t p) { return p & 0xFF; }
bool IsRing(uint32_t p) { return Green(p) > 220 && Red(p) < 130 && Blue(p) < 130; }
bool IsWhite(uint32_t p) { return Red(p) > 248 && Green(p) > 248 && Blue(p) > 248; }
bool IsRed(uint32_t p) { return Red(p) > 200 && Green(p) < 60 && Blue(p) < 60; }
// The artwork's dial: mid green.
bool IsDial(uint32_t p) { return Green(p) > 100 && Green(p) < 200 && Red(p) < 80 && Blue(p) < 110; }

// The ring's centre line |t| degrees clockwise past its start at 130 degrees.
uint32_t RingPixel(const Screen& shot, double t) {
  const double angle = (130.0 + t) * 3.14159265358979 / 180.0;
  return shot.At(static_cast<int>(std::lround(99.5 + 50.5 * std::cos(angle))),
                 static_cast<int>(std::lround(99.5 + 50.5 * std::sin(angle))));
}

int CountIn(const Screen& shot, bool (*match)(uint32_t), int x0, int y0, int x1, int y1) {
  int count = 0;
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) count += match(shot.At(x, y));
  }
  return count;
}

// Checks that |shot| holds the dial, a ring reaching at least |minSweep|
// degrees and no further than |maxSweep|, the percentage, and the desktop in
// the corners (|desktop|: the same spot before the splash showed).
void ExpectSplashOnScreen(const Screen& shot, const Screen& desktop, int minSweep, int maxSweep) {
  SCOPED_TRACE(::testing::Message() << "screen at " << shot.left << "," << shot.top);
  EXPECT_TRUE(IsDial(shot.At(100, 30))) << std::hex << shot.At(100, 30);
  EXPECT_TRUE(IsDial(shot.At(30, 100))) << std::hex << shot.At(30, 100);
  for (int t = 0; t <= minSweep; t += 5) {
    EXPECT_TRUE(IsRing(RingPixel(shot, t))) << "no ring " << t << " deg past the start";
  }
  for (int t = maxSweep + 12; t <= 348; t += 4) {
    EXPECT_FALSE(IsRing(RingPixel(shot, t))) << "ring " << t << " deg past the start";
  }
  EXPECT_GT(CountIn(shot, IsWhite, 62, 82, 138, 118), 60) << "no percentage";
  for (const POINT corner : {POINT{1, 1}, POINT{198, 1}, POINT{1, 198}, POINT{198, 198}}) {
    EXPECT_EQ(shot.At(corner.x, corner.y), desktop.At(corner.x, corner.y))
        << "corner " << corner.x << "," << corner.y << " hides the desktop";
  }
}

std::set<DWORD> ThreadsOfThisProcess() {
  std::set<DWORD> ids;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ids.insert(entry.th32ThreadID);
  }
  CloseHandle(snapshot);
  return ids;
}

struct RunResult {
  int result = -1;
  HWND window = nullptr;
  ULONGLONG returnedAt = 0;
};

// Runs the splash as the entry point does, with |helper| on a second thread,
// starting from |progress|.
RunResult RunSplash(int32_t progress, bool debugLabel, const std::function<void()>& helper) {
  g_progress.store(progress);
  g_debugLabel = debugLabel;
  SplashWindowParams params = {};
  params.gdiplusInput = Gdiplus::GdiplusStartupInput();
  params.instance = GetModuleHandleW(nullptr);
  params.width = 200;
  params.height = 200;
  Gdiplus::GdiplusStartup(&params.gdiplusToken, &params.gdiplusInput, nullptr);
  std::thread thread(helper);
  RunResult run;
  run.result = RunSplashWindow(params);
  run.returnedAt = Now();
  run.window = params.window;
  thread.join();
  Gdiplus::GdiplusShutdown(params.gdiplusToken);
  g_debugLabel = false;
  return run;
}

class SplashWindowTest : public ::testing::Test {
 protected:
  void SetUp() override { desktop_ = CaptureScreen(kCentred.left, kCentred.top); }
  Screen desktop_;
};

TEST_F(SplashWindowTest, ShowsACentredTopmostPopupAndAnimatesToItsEnd) {
  HWND window = nullptr;
  ULONGLONG shownAt = 0, fullAt = 0, goneAt = 0;
  int32_t highest = 0;
  bool decreased = false;
  const RunResult run = RunSplash(0, false, [&] {
    window = WaitForSplashWindow();
    shownAt = Now();
    if (!window) return;

    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    EXPECT_STREQ(className, L"PimbrelLoading");
    EXPECT_EQ(GetClassLongPtrW(window, GCL_STYLE), CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS);
    const LONG style = GetWindowLongW(window, GWL_STYLE);
    const LONG exStyle = GetWindowLongW(window, GWL_EXSTYLE);
    EXPECT_EQ(style & (WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX | WS_CAPTION | WS_THICKFRAME),
              WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX);
    EXPECT_EQ(exStyle & (WS_EX_TOOLWINDOW | WS_EX_LAYERED | WS_EX_TOPMOST | WS_EX_APPWINDOW),
              WS_EX_TOOLWINDOW | WS_EX_LAYERED | WS_EX_TOPMOST);
    RECT rect = {};
    GetWindowRect(window, &rect);
    EXPECT_TRUE(EqualRect(&rect, &kCentred))
        << rect.left << "," << rect.top << "," << rect.right << "," << rect.bottom;

    // Mid-animation: the ring has passed a third and not yet reached the top.
    int32_t seen = 0;
    WaitUntil([&] { return (seen = g_progress.load()) >= 30; }, 10000);
    Sleep(30);  // a frame or two later
    const Screen middle = CaptureScreen(kCentred.left, kCentred.top);
    const int32_t after = g_progress.load();
    ExpectSplashOnScreen(middle, desktop_, seen * 280 / 100 - 10, after * 280 / 100);
    EXPECT_LT(after, 100) << "capture too late for a mid-animation frame";

    WaitUntil(
        [&] {
          const int32_t value = g_progress.load();
          decreased = decreased || value < highest;
          highest = std::max(highest, value);
          return value >= 100;
        },
        10000);
    fullAt = Now();
    Sleep(300);
    ExpectSplashOnScreen(CaptureScreen(kCentred.left, kCentred.top), desktop_, 275, 280);
    WaitUntil([&] { return !IsWindow(window); }, 5000);
    goneAt = Now();
  });

  ASSERT_NE(window, nullptr) << "no visible PimbrelLoading window";
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(run.window, window);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(g_progress.load(), 100);
  EXPECT_EQ(highest, 100);
  EXPECT_FALSE(decreased);
  // 100 steps with a 10 ms pause each, then a one-second hold.
  EXPECT_GE(Ms(shownAt, fullAt), 950);
  EXPECT_LT(Ms(shownAt, fullAt), 4000);
  EXPECT_GE(Ms(fullAt, goneAt), 900);
  EXPECT_LT(Ms(fullAt, goneAt), 1700);
  EXPECT_LT(Ms(goneAt, run.returnedAt), 500);
}

TEST_F(SplashWindowTest, TheWorkersHundredEndsTheAnimationEarly) {
  const struct {
    const char* name;
    int32_t startAt;  // g_progress when the splash starts
    int32_t storeAt;  // the worker stores 100 once the ring shows this; 0: before the start
  } cases[] = {{"worker done before the splash", 100, 0}, {"worker done at 37 %", 0, 37}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ULONGLONG storedAt = Now(), goneAt = 0;
    int32_t lowestAfterStart = 100;
    const RunResult run = RunSplash(c.startAt, true, [&] {
      HWND window = WaitForSplashWindow();
      if (!window) return;
      lowestAfterStart = g_progress.load();
      if (c.storeAt) {
        WaitUntil([&] { return g_progress.load() >= c.storeAt; }, 10000);
        EXPECT_LT(g_progress.load(), 60);
        g_progress.store(100);
        storedAt = Now();
      }
      Sleep(250);
      // The full ring, the percentage and the debug label below them.
      const Screen full = CaptureScreen(kCentred.left, kCentred.top);
      ExpectSplashOnScreen(full, desktop_, 275, 280);
      EXPECT_GT(CountIn(full, IsRed, 0, 160, 200, 200), 40) << "no debug label";
      WaitUntil([&] { return !IsWindow(window); }, 5000);
      goneAt = Now();
    });
    ASSERT_NE(goneAt, 0u) << "the window never showed";
    EXPECT_EQ(g_progress.load(), 100);
    if (!c.storeAt) {
      EXPECT_EQ(lowestAfterStart, 100) << "stepped although already full";
    }
    // The hold after the store: about a second, not the rest of the animation.
    EXPECT_GE(Ms(storedAt, goneAt), 900);
    EXPECT_LT(Ms(storedAt, goneAt), c.storeAt ? 1700 : 2500);
    EXPECT_LT(Ms(goneAt, run.returnedAt), 500);
  }
}

TEST_F(SplashWindowTest, ClosesAtOnceOnRequestAndItsThreadEndsWithIt) {
  const struct {
    const char* name;
    int how;  // 0: Alt+F4 typed, 1: WM_SYSCOMMAND SC_CLOSE, 2: WM_CLOSE
  } cases[] = {{"Alt+F4", 0}, {"SC_CLOSE", 1}, {"WM_CLOSE", 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::set<DWORD> before = ThreadsOfThisProcess();
    std::set<DWORD> during;
    DWORD helperId = 0;
    ULONGLONG requestedAt = 0, goneAt = 0;
    int32_t progressAtClose = 0;
    const RunResult run = RunSplash(0, false, [&] {
      helperId = GetCurrentThreadId();
      HWND window = WaitForSplashWindow();
      if (!window) return;
      WaitUntil([&] { return g_progress.load() >= 20; }, 10000);
      during = ThreadsOfThisProcess();
      requestedAt = Now();
      if (c.how == 0) {
        SetForegroundWindow(window);
        INPUT keys[4] = {};
        for (INPUT& key : keys) key.type = INPUT_KEYBOARD;
        keys[0].ki.wVk = VK_MENU;
        keys[1].ki.wVk = VK_F4;
        keys[2].ki.wVk = VK_F4;
        keys[2].ki.dwFlags = KEYEVENTF_KEYUP;
        keys[3].ki.wVk = VK_MENU;
        keys[3].ki.dwFlags = KEYEVENTF_KEYUP;
        SendInput(4, keys, sizeof(INPUT));
      } else if (c.how == 1) {
        PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
      } else {
        PostMessageW(window, WM_CLOSE, 0, 0);
      }
      WaitUntil([&] { return !IsWindow(window); }, 5000);
      goneAt = Now();
      progressAtClose = g_progress.load();
    });
    const std::set<DWORD> after = ThreadsOfThisProcess();

    EXPECT_LT(Ms(requestedAt, goneAt), 300) << "the window outlived the close request";
    EXPECT_LT(progressAtClose, 90);
    EXPECT_LT(Ms(goneAt, run.returnedAt), 300) << "RunSplashWindow did not return at once";
    // The animation thread has ended with the run: it no longer steps, and no
    // thread that appeared during the run is left.
    Sleep(100);
    EXPECT_LE(g_progress.load(), progressAtClose + 1);
    for (const DWORD id : during) {
      if (id == helperId || before.count(id)) continue;
      EXPECT_EQ(after.count(id), 0u) << "thread " << id << " still runs";
    }
  }
}

TEST_F(SplashWindowTest, DraggedWindowKeepsGettingItsFramesAtTheNewPlace) {
  POINT moved = {}, dragged = {};
  bool dragWorked = false;
  RunSplash(0, false, [&] {
    HWND window = WaitForSplashWindow();
    if (!window) return;
    WaitUntil([&] { return g_progress.load() >= 10; }, 10000);

    // Moved as the move loop moves it, right after a step: the frame of that
    // step is being rendered meanwhile. It and later frames must land at the
    // new place, show the ring that has grown since, and leave the window there.
    SetWindowPos(window, nullptr, 300, 200, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    const int32_t atMove = g_progress.load();
    WaitUntil([&] { return g_progress.load() >= atMove + 25; }, 5000);
    Sleep(30);
    RECT rect = {};
    GetWindowRect(window, &rect);
    moved = {rect.left, rect.top};
    const Screen there = CaptureScreen(300, 200);
    ExpectSplashOnScreen(there, CaptureScreen(0, 0), (atMove + 20) * 280 / 100, 280);
    EXPECT_LT(CountIn(CaptureScreen(kCentred.left, kCentred.top), IsRing, 0, 0, 200, 200), 10)
        << "the old place still shows the ring";

    // A real press and move on the dial: the window follows the mouse.
    SetCursorPos(400, 240);  // 100, 40 inside the window: the dial above the text
    INPUT press[1] = {};
    press[0].type = INPUT_MOUSE;
    press[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    SendInput(1, press, sizeof(INPUT));
    Sleep(100);
    for (int step = 1; step <= 10; ++step) {
      SetCursorPos(400 + 15 * step, 240 + 10 * step);
      INPUT motion = {};
      motion.type = INPUT_MOUSE;
      motion.mi.dwFlags = MOUSEEVENTF_MOVE;
      SendInput(1, &motion, sizeof(INPUT));
      Sleep(20);
    }
    press[0].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(1, press, sizeof(INPUT));
    dragWorked = WaitUntil(
        [&] {
          GetWindowRect(window, &rect);
          return rect.left == 450 && rect.top == 300;
        },
        1000);
    dragged = {rect.left, rect.top};
    if (dragWorked && IsWindow(window)) {
      Sleep(50);
      ExpectSplashOnScreen(CaptureScreen(450, 300), CaptureScreen(0, 0), 0, 280);
    }
  });
  EXPECT_EQ(moved.x, 300);
  EXPECT_EQ(moved.y, 200);
  EXPECT_TRUE(dragWorked) << "after the drag the window is at " << dragged.x << "," << dragged.y;
}

// A window procedure that refuses every window.
LRESULT CALLBACK RefuseCreation(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) return FALSE;
  return DefWindowProcW(window, message, wParam, lParam);
}

TEST_F(SplashWindowTest, WithoutAWindowItReturnsAtOnceAndAnimatesNothing) {
  // A class of the same name, registered first, whose windows cannot be created.
  HINSTANCE instance = GetModuleHandleW(nullptr);
  UnregisterClassW(kSplashClassName, instance);
  WNDCLASSW refusing = {};
  refusing.lpfnWndProc = RefuseCreation;
  refusing.hInstance = instance;
  refusing.lpszClassName = kSplashClassName;
  ASSERT_NE(RegisterClassW(&refusing), 0);

  const ULONGLONG begin = Now();
  const RunResult run = RunSplash(0, false, [] {});
  EXPECT_LT(Ms(begin, run.returnedAt), 1000);
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(run.window, nullptr);
  Sleep(100);
  EXPECT_EQ(g_progress.load(), 0) << "an animation ran without a window";
  UnregisterClassW(kSplashClassName, instance);
}

TEST(CenterWindowOnDesktopTest, CentresAnyWindowSizeAndMakesItTopmost) {
  const struct {
    int width, height;
    int x, y;
  } cases[] = {
      {200, 200, 860, 440},
      {301, 77, 809, 501},     // odd sizes: the half pixel is dropped
      {2001, 1181, -40, -50},  // larger than the desktop: truncated toward zero
  };
  for (const auto& c : cases) {
    SplashWindowParams params = {};
    params.window = CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", nullptr, WS_POPUP, 5, 7, c.width,
                                    c.height, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(params.window, nullptr);
    CenterWindowOnDesktop(params);
    RECT rect = {};
    GetWindowRect(params.window, &rect);
    EXPECT_EQ(rect.left, c.x) << c.width << "x" << c.height;
    EXPECT_EQ(rect.top, c.y) << c.width << "x" << c.height;
    EXPECT_EQ(rect.right - rect.left, c.width);
    EXPECT_TRUE(GetWindowLongW(params.window, GWL_EXSTYLE) & WS_EX_TOPMOST);
    DestroyWindow(params.window);
  }
}

}  // namespace
