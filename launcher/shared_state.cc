#include "launcher/shared_state.h"

HANDLE g_instanceMutex = nullptr;
HANDLE g_workerDoneEvent = nullptr;
bool g_debugLabel = false;
std::atomic<int32_t> g_progress{0};
