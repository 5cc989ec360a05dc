// The sample Pimbrel client: a small window that says it was started and
// with which identifier. PIMBREL_DEMO_CLOSE_MS closes it after that long;
// PIMBREL_DEMO_LOG names a file that gets one line about the start.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "demo_log.h"

namespace {

wchar_t g_message[512];

LRESULT CALLBACK ClientWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      RECT area;
      GetClientRect(window, &area);
      FillRect(dc, &area, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
      SetBkMode(dc, TRANSPARENT);
      DrawTextW(dc, g_message, -1, &area, DT_CENTER | DT_VCENTER | DT_WORDBREAK);
      EndPaint(window, &paint);
      return 0;
    }
    case WM_TIMER:
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  const std::wstring appId = argc > 1 ? argv[1] : L"(none)";
  LocalFree(argv);
  swprintf(g_message, 512, L"\n\nPimbrel client is running.\n\nStarted with the identifier %ls",
           appId.c_str());
  AppendDemoLog(L"client: started, command line " + std::wstring(GetCommandLineW()));

  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = ClientWindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.lpszClassName = L"PimbrelSampleClient";
  RegisterClassW(&windowClass);
  HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"Pimbrel (sample client)",
                                WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, 100, 100, 420, 200,
                                nullptr, nullptr, instance, nullptr);
  if (!window) {
    AppendDemoLog(L"client: no window could be created");
    return 0;  // no display: the start has been logged all the same
  }
  ShowWindow(window, show);
  UpdateWindow(window);
  wchar_t closeMs[32] = {};
  if (GetEnvironmentVariableW(L"PIMBREL_DEMO_CLOSE_MS", closeMs, 32)) {
    SetTimer(window, 1, static_cast<UINT>(wcstoul(closeMs, nullptr, 10)), nullptr);
  }
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}
