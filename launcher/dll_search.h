// Where the launcher loads DLLs from once it runs.
#pragma once

// Restricts every later DLL load of the process to System32, so that a DLL
// planted beside the exe (often in a Downloads folder) or in the current
// folder is never loaded into the elevated launcher. Call first thing in
// WinMain, before any delay-loaded DLL is used. True when
// SetDefaultDllDirectories was there to do it; without it (Windows 7
// without KB2533623) the delay-loaded DLLs are loaded at once from
// System32 by full path instead, and false is returned.
bool RestrictDllSearchToSystem32();

// The DLLs that the launcher delay-loads: not among Windows' known DLLs,
// so a plain LoadLibrary of their names would search the exe's folder first.
extern const wchar_t* const kDelayLoadedDlls[3];
