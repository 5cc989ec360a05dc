// State shared by the entry point, the install worker and the splash window.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include <gdiplus.h>

// Name of the machine-wide single-instance mutex of the install path.
constexpr wchar_t kInstanceMutexName[] = L"Pimbrel_Install_Instance";

// The record the entry point hands to RunSplashWindow.
struct SplashWindowParams {
  Gdiplus::GdiplusStartupInput gdiplusInput;
  ULONG_PTR gdiplusToken;
  HINSTANCE instance;
  HWND window;  // set by RunSplashWindow once the window exists
  int32_t width;
  int32_t height;
};

// Single-instance mutex: created by the entry point, closed by the worker.
extern HANDLE g_instanceMutex;
// Manual-reset event the worker signals as its last access to shared state;
// only the entry point closes it, after its wait has returned.
extern HANDLE g_workerDoneEvent;
// Copy of the launch context's debugMode, written before the splash exists.
extern bool g_debugLabel;
// Splash progress, always within 0..100: stepped by the animation thread,
// set to 100 by the worker when its job ends, read by every render.
extern std::atomic<int32_t> g_progress;
