// The launch context: the application identifier and the debug flag, built
// once per run and read by everything that starts a process.
#pragma once

#include <windows.h>

#include <string>

struct LaunchContext {
  const wchar_t* appIdText;  // not owned: points into the entry point's buffer
  bool debugMode;            // "pimbrel.debug" lies beside the executable
};

// Name of the marker file that turns debug mode on.
constexpr wchar_t kDebugMarkerName[] = L"pimbrel.debug";

// Stores |appIdText| (the pointer itself) in |context| and sets debugMode from
// the marker file beside the running executable. Returns |context|.
LaunchContext* BuildLaunchContext(LaunchContext* context, const wchar_t* appIdText);

// The marker path for an executable at |modulePath|: everything before its
// last backslash (the whole path when it has none), then "\pimbrel.debug".
std::wstring DebugMarkerPath(const std::wstring& modulePath);

// True when FindFirstFileW finds any entry for |path|: a file, a directory,
// or (for a wildcard pattern) any match.
bool FileExists(const wchar_t* path);
