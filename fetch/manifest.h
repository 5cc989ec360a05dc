// Reading the version manifest: "pc" -> "version_name" and "pc" -> "app_file".
#pragma once

#include <stddef.h>

// Capacity, terminator included, of the version-name and installer-URL buffers.
constexpr size_t kManifestValueCapacity = 255;

// Parses |manifestText| (bytes up to the first NUL) as JSON and writes
// "pc" -> "version_name" into |versionName| and "pc" -> "app_file" into
// |installerUrl| (each of kManifestValueCapacity wide characters), each only
// when the manifest holds it as a JSON string that fits; an output that is
// not written keeps its content. Text is converted in the ANSI code page.
// Out of memory leaves as an exception.
void ParseVersionManifest(const char* manifestText, wchar_t* versionName, wchar_t* installerUrl);
