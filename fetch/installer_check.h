// Checking a downloaded installer against the SHA-256 that the manifest pins,
// and holding the checked file so that it is also the file that is started.
#pragma once

#include <windows.h>

#include <stddef.h>

// Computes the SHA-256 of |file| from its current position to its end into
// |digest| (32 bytes) with CNG. False when a read or a CNG call fails.
bool HashFileSha256(HANDLE file, unsigned char* digest);

// Opens |path| for reading, sharing it for reading only, and checks that its
// content has the SHA-256 |digest|. Returns the open handle when it does:
// while it stays open nobody can write to the file, rename it, delete it or
// replace it. Returns INVALID_HANDLE_VALUE, with nothing left open, when the
// file cannot be opened or its content differs.
HANDLE OpenVerifiedFile(const wchar_t* path, const unsigned char* digest);
