// The sample Pimbrel installer: copies the client it carries (resource
// "CLIENT") to "<Program Files>\Pimbrel\PimbrelMini.exe" and registers it
// under the App Paths key that the launcher reads. PIMBREL_DEMO_LOG names a
// file that gets one line for each step.
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <string>

#include "demo_log.h"

namespace {

constexpr wchar_t kAppPathsKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\PimbrelMini.exe";

bool WriteClient(const std::wstring& target) {
  HRSRC found = FindResourceW(nullptr, L"CLIENT", MAKEINTRESOURCEW(10) /* RT_RCDATA */);
  if (!found) return false;
  const void* bytes = LockResource(LoadResource(nullptr, found));
  const DWORD size = SizeofResource(nullptr, found);
  HANDLE file = CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(file, bytes, size, &written, nullptr) && written == size;
  CloseHandle(file);
  return ok;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  AppendDemoLog(L"installer: started, command line " + std::wstring(GetCommandLineW()));
  wchar_t programFiles[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, programFiles))) return 1;
  const std::wstring folder = std::wstring(programFiles) + L"\\Pimbrel";
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring client = folder + L"\\PimbrelMini.exe";
  if (!WriteClient(client)) {
    AppendDemoLog(L"installer: could not write " + client);
    return 1;
  }
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kAppPathsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    AppendDemoLog(L"installer: could not open the App Paths key");
    return 1;
  }
  RegSetValueExW(key, L"", 0, REG_SZ, reinterpret_cast<const BYTE*>(client.c_str()),
                 static_cast<DWORD>((client.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  AppendDemoLog(L"installer: installed the client at " + client + L" and registered it");
  return 0;
}
