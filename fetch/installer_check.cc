#include "fetch/installer_check.h"

#include <bcrypt.h>

#include <string.h>

#include "fetch/manifest.h"

namespace {

constexpr DWORD kReadChunk = 16 * 1024;

}  // namespace

bool HashFileSha256(HANDLE file, unsigned char* digest) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!BCRYPT_SUCCESS(
          BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
    return false;
  }
  // With a null object buffer CNG keeps the hash state itself (Windows 7 on).
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool ok = BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0));
  unsigned char chunk[kReadChunk];
  while (ok) {
    DWORD got = 0;
    if (!ReadFile(file, chunk, kReadChunk, &got, nullptr)) {
      ok = false;
    } else if (got == 0) {
      break;
    } else {
      ok = BCRYPT_SUCCESS(BCryptHashData(hash, chunk, got, 0));
    }
  }
  if (ok) ok = BCRYPT_SUCCESS(BCryptFinishHash(hash, digest, static_cast<ULONG>(kSha256Size), 0));
  if (hash) BCryptDestroyHash(hash);
  BCryptCloseAlgorithmProvider(algorithm, 0);
  return ok;
}

HANDLE OpenVerifiedFile(const wchar_t* path, const unsigned char* digest) {
  // Read sharing only: from here on the content cannot change under us, so
  // the bytes checked are the bytes the loader maps. Reparse points are
  // not followed: the installer is a plain file of its own.
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return INVALID_HANDLE_VALUE;
  unsigned char actual[kSha256Size] = {};
  if (!HashFileSha256(file, actual) || memcmp(actual, digest, kSha256Size) != 0) {
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}
