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
  // points; only a real folder will do.
  const DWORD found = GetFileAttributesW(name);
  ok = ok && found != INVALID_FILE_ATTRIBUTES && (found & FILE_ATTRIBUTE_DIRECTORY) &&
       !(found & FILE_ATTRIBUTE_REPARSE_POINT);

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
  LocalFree(descriptor);
  return ok;
}
