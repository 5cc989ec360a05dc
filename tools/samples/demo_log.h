// One log line per step of the sample programs, for the demo's report: UTF-8
// lines appended to the file that PIMBREL_DEMO_LOG names (nothing when unset).
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

inline void AppendDemoLog(const std::wstring& line) {
  wchar_t path[1024] = {};
  if (!GetEnvironmentVariableW(L"PIMBREL_DEMO_LOG", path, 1024)) return;
  FILE* log = _wfopen(path, L"ab");
  if (!log) return;
  const int n = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, &bytes[0], n, nullptr, nullptr);
  fprintf(log, "%s\n", bytes.c_str());
  fclose(log);
}
