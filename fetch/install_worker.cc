#include "fetch/install_worker.h"

#include "launcher/shared_state.h"

unsigned RunInstallJob(const LaunchContext*) { return 0; }

unsigned __stdcall InstallWorkerThread(void* context) {
  try {
    RunInstallJob(static_cast<const LaunchContext*>(context));
  } catch (...) {
  }
  g_progress.store(100);
  CloseHandle(g_instanceMutex);
  g_instanceMutex = nullptr;
  SetEvent(g_workerDoneEvent);
  return 0;
}
