// The launcher's entry point: start the installed client, or take the
// single-instance guard and run the install worker behind the splash.
#include <windows.h>
#include <process.h>

#include "fetch/install_worker.h"
#include "launcher/client_launch.h"
#include "launcher/dll_search.h"
#include "launcher/launch_context.h"
#include "launcher/shared_state.h"
#include "resources/resource.h"
#include "splash/splash_window.h"

namespace {

constexpr int kAppIdCapacity = 255;
constexpr int kSplashSize = 200;

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  // Before anything can load wininet, gdiplus or bcrypt (all delay-loaded).
  RestrictDllSearchToSystem32();

  wchar_t appIdText[kAppIdCapacity];
  LoadStringW(instance, IDS_APP_ID, appIdText, kAppIdCapacity);
  LaunchContext* context = BuildLaunchContext(new LaunchContext, appIdText);

  wchar_t clientPath[kClientPathCapacity] = {};
  if (ReadInstalledClientPath(clientPath) && FileExists(clientPath)) {
    LaunchClient(clientPath, context);
    return 0;
  }

  g_instanceMutex = CreateMutexW(nullptr, TRUE, kInstanceMutexName);
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    // Another launcher is installing; start the client only if it is there by now.
    LaunchClient(clientPath, context);
    return 0;
  }

  g_workerDoneEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE worker = nullptr;
  if (g_workerDoneEvent) {
    worker = reinterpret_cast<HANDLE>(
        _beginthreadex(nullptr, 0, InstallWorkerThread, context, 0, nullptr));
  }
  if (!worker) {
    // Without an event to wait on or a thread to signal it, install on this
    // thread instead: the run still does its job and nothing waits forever.
    InstallWorkerThread(context);
    if (g_workerDoneEvent) CloseHandle(g_workerDoneEvent);
    g_workerDoneEvent = nullptr;
    return 0;
  }
  CloseHandle(worker);  // nobody joins the worker; completion comes through the event

  g_debugLabel = context->debugMode;
  SplashWindowParams splash = {};
  splash.gdiplusInput = Gdiplus::GdiplusStartupInput();
  splash.instance = instance;
  splash.width = kSplashSize;
  splash.height = kSplashSize;
  Gdiplus::GdiplusStartup(&splash.gdiplusToken, &splash.gdiplusInput, nullptr);
  RunSplashWindow(splash);

  WaitForSingleObject(g_workerDoneEvent, INFINITE);
  CloseHandle(g_workerDoneEvent);
  g_workerDoneEvent = nullptr;
  Gdiplus::GdiplusShutdown(splash.gdiplusToken);
  return 0;
}
