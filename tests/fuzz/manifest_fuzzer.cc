// Fuzz target for the manifest readers: any body a server sends, as the
// install job hands it on (bytes up to the first NUL, at most the text
// buffer's capacity). Besides the sanitizers' own checks it aborts when an
// output is written past its capacity or left without a terminator, or
// when the pin reader writes a digest it does not report.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <string>

#include "fetch/manifest.h"

namespace {

constexpr size_t kGuard = 16;
constexpr wchar_t kFill = 0xABCD;
constexpr unsigned char kDigestFill = 0x5A;
// What FetchText can deliver: the worker's text buffer less its terminator.
constexpr size_t kMaxText = 102400 - 1;

void Check(bool condition) {
  if (!condition) abort();
}

// True when |cells| holds a terminated text within kManifestValueCapacity.
bool Terminated(const wchar_t* cells) {
  return wmemchr(cells, L'\0', kManifestValueCapacity) != nullptr;
}

// An output holds a terminated text within its capacity, and the guard
// cells behind it never change.
void CheckOutput(const wchar_t* cells) {
  for (size_t i = kManifestValueCapacity; i < kManifestValueCapacity + kGuard; ++i) {
    Check(cells[i] == kFill);
  }
  Check(Terminated(cells));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxText) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);

  // Each output starts as a short text followed by kFill cells: a write
  // that is cut short of its terminator or runs past the capacity shows.
  static const wchar_t kBefore[] = L"before";
  wchar_t version[kManifestValueCapacity + kGuard];
  wchar_t url[kManifestValueCapacity + kGuard];
  wmemset(version, kFill, kManifestValueCapacity + kGuard);
  wmemset(url, kFill, kManifestValueCapacity + kGuard);
  wcscpy(version, kBefore);
  wcscpy(url, kBefore);
  ParseVersionManifest(text.c_str(), version, url);
  CheckOutput(version);
  CheckOutput(url);

  unsigned char digest[kSha256Size + kGuard];
  memset(digest, kDigestFill, sizeof(digest));
  const InstallerPin pin = ReadInstallerPin(text.c_str(), digest);
  Check(pin == kPinAbsent || pin == kPinValid || pin == kPinMalformed);
  for (size_t i = kSha256Size; i < sizeof(digest); ++i) Check(digest[i] == kDigestFill);
  if (pin != kPinValid) {
    for (size_t i = 0; i < kSha256Size; ++i) Check(digest[i] == kDigestFill);
  } else {
    // A pin is 64 hexadecimal digits: the text must hold them somewhere.
    Check(size >= 2 * kSha256Size);
  }
  return 0;
}
