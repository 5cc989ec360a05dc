#include "launcher/launch_context.h"

namespace {

// GetModuleFileNameW is given one character less than the buffer holds, so a
// truncated path still stays terminated.
constexpr DWORD kModulePathCapacity = 1024;

}  // namespace

LaunchContext* BuildLaunchContext(LaunchContext* context, const wchar_t* appIdText) {
  context->appIdText = appIdText;
  wchar_t modulePath[kModulePathCapacity] = {};
  GetModuleFileNameW(nullptr, modulePath, kModulePathCapacity - 1);
  context->debugMode = FileExists(DebugMarkerPath(modulePath).c_str());
  return context;
}

std::wstring DebugMarkerPath(const std::wstring& modulePath) {
  std::wstring directory = modulePath;
  const size_t slash = directory.rfind(L'\\');
  if (slash != std::wstring::npos) directory.resize(slash);
  return directory + L"\\" + kDebugMarkerName;
}

bool FileExists(const wchar_t* path) {
  WIN32_FIND_DATAW findData;
  HANDLE search = FindFirstFileW(path, &findData);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return true;
}
