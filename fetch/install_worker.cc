#include "fetch/install_worker.h"

#include <shlobj.h>
#include <wchar.h>

#include "fetch/folder_security.h"
#include "fetch/http_transfer.h"
#include "fetch/installer_check.h"
#include "fetch/manifest.h"
#include "launcher/client_launch.h"
#include "launcher/shared_state.h"
#include "resources/resource.h"

namespace {

constexpr wchar_t kProductFolder[] = L"\\Pimbrel\\";
constexpr wchar_t kInstallFolder[] = L"\\Install\\";
constexpr wchar_t kInstallerPrefix[] = L"pimbrel_mini_";
constexpr wchar_t kInstallerSuffix[] = L".exe";

// Fills |directory| with the all-users application data folder. False when
// the shell cannot say where it is.
bool GetCommonAppDataFolder(wchar_t* directory) {
  directory[0] = L'\0';
  IMalloc* allocator = nullptr;
  if (FAILED(SHGetMalloc(&allocator))) return false;
  LPITEMIDLIST folder = nullptr;
  bool found = false;
  if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_COMMON_APPDATA, &folder))) {
    found = SHGetPathFromIDListW(folder, directory) && directory[0] != L'\0';
    allocator->Free(folder);
  }
  allocator->Release();
  return found;
}

// Creates "<folder>\Pimbrel\" and then "\Install\" below it, in |directory|,
// each with the install folders' security (an existing one gets it too).
// The second piece follows the first one's separator, so the text holds a
// doubled separator; Windows reads it as one. False when either folder
// cannot be made safe: ProgramData lets every user write, and the elevated
// launcher must not start a file that such a user could have put there.
bool PrepareInstallDirectory(wchar_t* directory) {
  if (!AppendText(directory, kInstallPathCapacity, kProductFolder)) return false;
  if (!CreateProtectedFolder(directory)) return false;
  if (!AppendText(directory, kInstallPathCapacity, kInstallFolder)) return false;
  return CreateProtectedFolder(directory);
}

}  // namespace

void (*g_beforePinnedStart)(const wchar_t* path) = nullptr;

bool AppendText(wchar_t* buffer, size_t capacity, const wchar_t* text) {
  const size_t used = wcsnlen(buffer, capacity);
  const size_t added = wcslen(text);
  if (used >= capacity || added >= capacity - used) return false;
  wmemcpy(buffer + used, text, added + 1);
  return true;
}

bool MakeDebugUrl(wchar_t* url, size_t capacity) {
  wchar_t scratch[kUrlCapacity] = {};
  const wchar_t* dot = wcsrchr(url, L'.');
  if (!dot || capacity > kUrlCapacity) return false;
  const size_t head = static_cast<size_t>(dot - url);
  if (head >= capacity) return false;
  wmemcpy(scratch, url, head);
  scratch[head] = L'\0';
  if (!AppendText(scratch, capacity, L"_debug") || !AppendText(scratch, capacity, dot)) return false;
  wmemcpy(url, scratch, wcslen(scratch) + 1);
  return true;
}

bool IsSafeVersionName(const wchar_t* versionName) {
  for (const wchar_t* c = versionName; *c; ++c) {
    if (*c < 0x20 || *c == 0x7F || wcschr(L"\\/:*?\"<>|", *c)) return false;
  }
  return true;
}

bool StartPinnedInstaller(const wchar_t* url, const wchar_t* path, const unsigned char* digest,
                          const LaunchContext* context) {
  HANDLE held = FileExists(path) ? OpenVerifiedFile(path, digest) : INVALID_HANDLE_VALUE;
  if (held == INVALID_HANDLE_VALUE) {
    // A cached file that fails its check is of no use to any later run.
    if (FileExists(path)) DeleteFileW(path);
    if (url[0] == L'\0') return false;
    DownloadToFile(url, path);
    held = OpenVerifiedFile(path, digest);
    if (held == INVALID_HANDLE_VALUE) {
      DeleteFileW(path);
      return false;
    }
  }
  if (g_beforePinnedStart) g_beforePinnedStart(path);
  LaunchClient(path, context);
  CloseHandle(held);
  return true;
}

unsigned RunInstallJob(const LaunchContext* context) {
  try {
    wchar_t directory[kInstallPathCapacity];
    wchar_t url[kUrlCapacity];
    wchar_t manifestUrl[kUrlCapacity];
    wchar_t versionName[kManifestValueCapacity];
    wchar_t installerPath[kInstallPathCapacity];
    char text[kManifestTextCapacity];
    unsigned char digest[kSha256Size];

    // Without a folder there is nowhere safe to put an installer.
    if (!GetCommonAppDataFolder(directory)) return 0;
    if (!PrepareInstallDirectory(directory)) return 0;

    wmemset(installerPath, L'\0', kInstallPathCapacity);
    wmemset(versionName, L'\0', kManifestValueCapacity);
    memset(text, 0, sizeof(text));

    url[0] = L'\0';
    LoadStringW(GetModuleHandleW(nullptr), IDS_MANIFEST_URL, url, kUrlCapacity);
    if (context->debugMode && !MakeDebugUrl(url, kUrlCapacity)) return 0;
    wmemcpy(manifestUrl, url, kUrlCapacity);

    FetchText(url, text, sizeof(text));
    ParseVersionManifest(text, versionName, url);
    // A pin that is there but unreadable may be a typo or a tampered
    // manifest; either way the vendor meant the installer to be checked.
    const InstallerPin pin = ReadInstallerPin(text, digest);
    if (pin == kPinMalformed) return 0;

    // The version name becomes part of a file name that an elevated process
    // starts: nothing from the network may steer that path elsewhere.
    if (!IsSafeVersionName(versionName)) return 0;
    if (!AppendText(installerPath, kInstallPathCapacity, directory) ||
        !AppendText(installerPath, kInstallPathCapacity, kInstallerPrefix) ||
        !AppendText(installerPath, kInstallPathCapacity, versionName) ||
        !AppendText(installerPath, kInstallPathCapacity, kInstallerSuffix)) {
      return 0;
    }

    // An untouched URL buffer means the manifest named no installer: then
    // there is nothing to download, only a file already in place to start.
    const bool haveInstallerUrl = url[0] != L'\0' && wcscmp(url, manifestUrl) != 0;
    if (pin == kPinValid) {
      StartPinnedInstaller(haveInstallerUrl ? url : L"", installerPath, digest, context);
      return 0;
    }
    if (haveInstallerUrl && !FileExists(installerPath)) DownloadToFile(url, installerPath);
    LaunchClient(installerPath, context);
  } catch (...) {
    // Out of memory ends the job; the completion step still runs.
  }
  return 0;
}

unsigned __stdcall InstallWorkerThread(void* context) {
  RunInstallJob(static_cast<const LaunchContext*>(context));
  g_progress.store(100);
  CloseHandle(g_instanceMutex);
  g_instanceMutex = nullptr;
  SetEvent(g_workerDoneEvent);
  return 0;
}
