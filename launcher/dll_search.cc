#include "launcher/dll_search.h"

#include <windows.h>
#include <wchar.h>

const wchar_t* const kDelayLoadedDlls[3] = {L"wininet.dll", L"gdiplus.dll", L"bcrypt.dll"};

namespace {

using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);

// Loads each delay-loaded DLL from System32 by full path; a later load by
// name then finds the module already in the process.
void PreloadFromSystem32() {
  wchar_t system[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryW(system, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  for (const wchar_t* dll : kDelayLoadedDlls) {
    wchar_t path[MAX_PATH] = {};
    if (length + 1 + wcslen(dll) >= MAX_PATH) continue;
    wmemcpy(path, system, length);
    path[length] = L'\\';
    wcscpy(path + length + 1, dll);
    LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  }
}

}  // namespace

bool RestrictDllSearchToSystem32() {
  // Looked up, not imported: an exe that imported it would not start at
  // all on a Windows 7 without the update that brought it.
  const auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
  // The current folder leaves the search either way.
  SetDllDirectoryW(L"");
  if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return true;
  PreloadFromSystem32();
  return false;
}
