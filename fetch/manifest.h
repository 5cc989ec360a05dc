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

// Size in bytes of a SHA-256 digest.
constexpr size_t kSha256Size = 32;

// What the manifest says about the installer's SHA-256.
enum InstallerPin {
  kPinAbsent,     // no "pc" -> "sha256": the installer is started unchecked
  kPinValid,      // 64 hexadecimal digits, either case: the digest was written
  kPinMalformed,  // present but not such a string: nothing may be started
};

// Reads "pc" -> "sha256" of |manifestText| into |digest| (kSha256Size bytes,
// written only for kPinValid). A text that does not parse, or has no "pc"
// object, holds no pin. Kept apart from ParseVersionManifest so that its
// callers and its contract stay as they are. Out of memory leaves as an
// exception.
InstallerPin ReadInstallerPin(const char* manifestText, unsigned char* digest);
