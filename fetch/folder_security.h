// The install folders' security: only SYSTEM and Administrators may change
// what lies in them, so no user without administrator rights can plant or
// replace an installer that the elevated launcher starts later.
#pragma once

#include <windows.h>
#include <aclapi.h>

// Owner Administrators; a protected DACL (nothing inherited from ProgramData,
// which lets every user create files): SYSTEM and Administrators full
// control, Users read and execute, all inherited by files and subfolders.
constexpr wchar_t kInstallFolderSddl[] =
    L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

// The descriptor of kInstallFolderSddl, to be released with LocalFree; null
// when it cannot be built.
PSECURITY_DESCRIPTOR BuildInstallFolderSecurity();

// The call that puts owner and DACL on a folder: SetNamedSecurityInfoW, or a
// recorder in tests.
using SetNamedSecurityInfoFn = DWORD(WINAPI*)(LPWSTR, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID,
                                              PSID, PACL, PACL);
extern SetNamedSecurityInfoFn g_setNamedSecurityInfo;

// Creates the folder |path| with the install folders' security or, when it
// exists already (perhaps made by another user), gives it that owner and
// DACL. True only when |path| is a folder, not a link or junction, and the
// security was applied.
bool CreateProtectedFolder(const wchar_t* path);
