#include "fetch/folder_security.h"

#include <sddl.h>
#include <wchar.h>

#include "launcher/client_launch.h"

SetNamedSecurityInfoFn g_setNamedSecurityInfo = SetNamedSecurityInfoW;

PSECURITY_DESCRIPTOR BuildInstallFolderSecurity() {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kInstallFolderSddl, SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    return nullptr;
  }
  return descriptor;
}

bool CreateProtectedFolder(const wchar_t* path) {
  // SetNamedSecurityInfoW takes a writable name.
  wchar_t name[kClientPathCapacity] = {};
  const size_t length = wcslen(path);
  if (length >= kClientPathCapacity) return false;
  wmemcpy(name, path, length + 1);

  PSECURITY_DESCRIPTOR descriptor = BuildInstallFolderSecurity();
  if (!descriptor) return false;
  SECURITY_ATTRIBUTES attributes = {};
  attributes.nLength = sizeof(attributes);
  attributes.lpSecurityDescriptor = descriptor;
  bool ok = CreateDirectoryW(name, &attributes) || GetLastError() == ERROR_ALREADY_EXISTS;

  // A junction or link made by a user would send the installer wherever it
  // points; only a real folder will do. The folder itself is opened, not
  // what a link names, and held without delete sharing so that it cannot be
  // renamed away and replaced by a link while its security is set.
  HANDLE folder = INVALID_HANDLE_VALUE;
  if (ok) {
    // Listing access, not attributes alone: only a handle with data access
    // takes part in the sharing check that refuses a rename.
    folder = CreateFileW(name, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  }
  BY_HANDLE_FILE_INFORMATION info = {};
  ok = ok && folder != INVALID_HANDLE_VALUE && GetFileInformationByHandle(folder, &info) &&
       (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
       !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);

  // Applied to a new folder as well: one path for both, and an owner that a
  // user set in the moment between the two calls is taken back.
  PSID owner = nullptr;
  PACL dacl = nullptr;
  BOOL ownerDefaulted = FALSE, daclPresent = FALSE, daclDefaulted = FALSE;
  ok = ok && GetSecurityDescriptorOwner(descriptor, &owner, &ownerDefaulted) &&
       GetSecurityDescriptorDacl(descriptor, &daclPresent, &dacl, &daclDefaulted) && daclPresent;
  ok = ok && g_setNamedSecurityInfo(name, SE_FILE_OBJECT,
                                    OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                        PROTECTED_DACL_SECURITY_INFORMATION,
                                    owner, nullptr, dacl, nullptr) == ERROR_SUCCESS;
  if (folder != INVALID_HANDLE_VALUE) CloseHandle(folder);
  LocalFree(descriptor);
  return ok;
}
