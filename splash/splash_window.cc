#include "splash/splash_window.h"

#include <process.h>

#include <cstdint>

#include "splash/splash_renderer.h"

namespace {

constexpr DWORD kStepPauseMs = 10;
constexpr DWORD kHoldMs = 1000;

// Signalled when the splash window is destroyed, so that after an early close
// the animation thread stops at once instead of rendering to nothing.
HANDLE g_splashClosedEvent = nullptr;

// Raises g_progress by one while it is below 100. The worker may store 100 at
// any moment; the exchange never loses that store nor passes it.
bool StepSplashProgress() {
  int32_t value = g_progress.load();
  while (value < 100) {
    if (g_progress.compare_exchange_weak(value, value + 1)) return true;
  }
  return false;
}

// Pauses the animation for |ms|; true when the window was closed meanwhile.
bool SplashClosedWithin(DWORD ms) {
  if (!g_splashClosedEvent) {
    Sleep(ms);
    return false;
  }
  return WaitForSingleObject(g_splashClosedEvent, ms) == WAIT_OBJECT_0;
}

// Waits for the animation thread to end. A render's push may send a message
// to this thread's window, so sent messages are still answered meanwhile.
void JoinAnimationThread(HANDLE thread) {
  while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE) ==
         WAIT_OBJECT_0 + 1) {
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

}  // namespace

int RunSplashWindow(SplashWindowParams& params) {
  LoadSplashImage();

  WNDCLASSW windowClass = {};
  windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
  windowClass.lpfnWndProc = SplashWindowProc;
  windowClass.hInstance = params.instance;
  windowClass.hIcon = LoadIconW(nullptr, IDI_ASTERISK);
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  windowClass.lpszClassName = kSplashClassName;
  RegisterClassW(&windowClass);

  params.window = CreateWindowExW(WS_EX_TOOLWINDOW, kSplashClassName, nullptr,
                                  WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX, 0, 0, params.width,
                                  params.height, nullptr, nullptr, params.instance, nullptr);
  // Without a window nothing would ever post the quit message: skip the loop.
  if (!params.window) return 0;

  const LONG exStyle = GetWindowLongW(params.window, GWL_EXSTYLE);
  if (!(exStyle & WS_EX_LAYERED)) {
    SetWindowLongW(params.window, GWL_EXSTYLE, exStyle | WS_EX_LAYERED);
  }
  CenterWindowOnDesktop(params);
  ShowWindow(params.window, SW_SHOWNORMAL);
  UpdateWindow(params.window);

  g_splashClosedEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE animation = reinterpret_cast<HANDLE>(
      _beginthreadex(nullptr, 0, SplashAnimationThread, params.window, 0, nullptr));
  // Nothing else would close the window: without its thread, do it now.
  if (!animation) DestroyWindow(params.window);
  PaintSplash(params.window);

  MSG message = {};
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }

  // GDI+ is shut down once this returns: the thread's last render must be over.
  if (animation) {
    JoinAnimationThread(animation);
    CloseHandle(animation);
  }
  if (g_splashClosedEvent) CloseHandle(g_splashClosedEvent);
  g_splashClosedEvent = nullptr;
  return static_cast<int>(message.wParam);
}

void CenterWindowOnDesktop(SplashWindowParams& params) {
  HWND desktop = GetDesktopWindow();
  RECT w = {};
  RECT d = {};
  GetWindowRect(params.window, &w);
  GetWindowRect(desktop, &d);
  const int32_t x = (w.left - w.right + d.right + d.left) / 2;
  const int32_t y = (w.top - w.bottom + d.bottom + d.top) / 2;
  SetWindowPos(params.window, HWND_TOPMOST, x, y, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
}

LRESULT CALLBACK SplashWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      PaintSplash(window);
      return 0;
    case WM_LBUTTONDOWN:
      // A press anywhere acts as a press on a caption: the default procedure drags the window.
      SendMessageW(window, WM_NCLBUTTONDOWN, HTCAPTION, 0);
      return 0;
    case WM_CHAR:
      return 0;
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      if (g_splashClosedEvent) SetEvent(g_splashClosedEvent);
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

unsigned __stdcall SplashAnimationThread(void* argument) {
  HWND window = static_cast<HWND>(argument);
  while (StepSplashProgress()) {
    PaintSplash(window);
    if (SplashClosedWithin(kStepPauseMs)) return 0;
  }
  PaintSplash(window);  // the 100 % frame
  if (SplashClosedWithin(kHoldMs)) return 0;
  SendMessageW(window, WM_CLOSE, 0, 0);
  return 0;
}
