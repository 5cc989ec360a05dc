#include "fetch/http_transfer.h"

#include <windows.h>
#include <wininet.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <memory>

namespace {

const wchar_t kTextUserAgent[] = L"Mozilla/4.0 (compatible; MSIE 6.0;)";
const wchar_t kDownloadUserAgent[] = L"ReduVI/1.0";

// One read asks for one byte less than the chunk holds, so a zeroed chunk
// always ends in a zero byte and reads as text.
constexpr size_t kChunkSize = 1024;
constexpr DWORD kReadSize = kChunkSize - 1;

// Writes the trace line of one transfer: the URL, already narrowed, and a
// line break. Flushed at once: a C runtime may buffer a redirected stdout
// fully (msvcrt's own printf does), and the reader should see each transfer
// as it starts, even if the process never reaches a normal exit.
void WriteTraceLine(const char* url) {
  printf("%s\n", url);
  fflush(stdout);
}

// The HTTP status of an open request, or 0 when it has none.
DWORD StatusCode(HINTERNET request) {
  DWORD status = 0;
  DWORD size = sizeof(status);
  if (!HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                      nullptr)) {
    return 0;
  }
  return status;
}

// Reads the Content-Length of |request| into |length|. False when the
// response has none. A header that is not a plain number gives
// ULLONG_MAX, which no body matches. Read as text, since the numeric
// query stops at 32 bits.
bool ContentLength(HINTERNET request, unsigned long long* length) {
  wchar_t text[32] = {};
  DWORD size = sizeof(text) - sizeof(wchar_t);
  if (!HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) {
    // A header too long for the buffer is no number a body could match.
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
    *length = ULLONG_MAX;
    return true;
  }
  wchar_t* end = nullptr;
  const unsigned long long value = _wcstoui64(text, &end, 10);
  *length = (end != text && *end == L'\0') ? value : ULLONG_MAX;
  return true;
}

// Copies the body of |request| into |file|. True only when every read
// succeeded, every byte was written, and the byte count matches the
// Content-Length where the response has one.
bool CopyBodyToFile(HINTERNET request, FILE* file) {
  unsigned long long expected = 0;
  const bool hasLength = ContentLength(request, &expected);
  unsigned long long written = 0;
  char chunk[kChunkSize] = {};
  for (;;) {
    DWORD count = 0;
    if (!InternetReadFile(request, chunk, kReadSize, &count)) return false;
    if (count == 0) break;
    if (fwrite(chunk, 1, count, file) != count) return false;
    written += count;
    memset(chunk, 0, sizeof(chunk));
  }
  return !hasLength || written == expected;
}

}  // namespace

void FetchText(const wchar_t* url, char* text, size_t capacity) {
  // Narrowed before any handle exists, so an allocation failure leaks none.
  std::unique_ptr<char[]> trace(WideToAnsi(url));
  HINTERNET root = InternetOpenW(kTextUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (!root) return;
  HINTERNET request = InternetOpenUrlW(root, url, nullptr, 0, INTERNET_FLAG_RELOAD, 0);
  if (!request) {
    InternetCloseHandle(root);
    return;
  }
  WriteTraceLine(trace.get());

  char chunk[kChunkSize] = {};
  size_t length = 0;  // of the text so far, without its terminator
  bool fits = capacity > 0;
  if (fits) text[0] = '\0';
  DWORD count = 1;
  while (fits && count > 0) {
    // A failed read leaves the count at zero, so it ends the loop like the
    // end of the body does; the text keeps what came before.
    count = 0;
    InternetReadFile(request, chunk, kReadSize, &count);
    // Only the chunk's bytes before its first zero byte become text.
    const size_t piece = strlen(chunk);
    if (length + piece + 1 > capacity) {
      // A cut manifest could still parse and name the wrong installer: hand
      // on nothing instead, and stop reading a body that is of no use.
      text[0] = '\0';
      fits = false;
    } else {
      memcpy(text + length, chunk, piece + 1);
      length += piece;
    }
    memset(chunk, 0, sizeof(chunk));
  }
  InternetCloseHandle(request);
  InternetCloseHandle(root);
}

void DownloadToFile(const wchar_t* url, const wchar_t* path) {
  // Every allocation comes before the first handle, so an out-of-memory
  // exception leaves none open.
  std::unique_ptr<char[]> trace(WideToAnsi(url));
  std::unique_ptr<char[]> finalPath(WideToAnsi(path));
  // The body goes to a file of its own beside the final one: a file under
  // the final name is taken as the installer by every later run, so it
  // must never hold a partial body or an error page. The process id keeps
  // two launchers from writing the same temporary file.
  char suffix[32] = {};
  snprintf(suffix, sizeof(suffix), ".%lu.part", static_cast<unsigned long>(GetCurrentProcessId()));
  const size_t finalLength = strlen(finalPath.get());
  std::unique_ptr<char[]> partPath(new char[finalLength + sizeof(suffix)]());
  memcpy(partPath.get(), finalPath.get(), finalLength);
  strcpy(partPath.get() + finalLength, suffix);

  HINTERNET root =
      InternetOpenW(kDownloadUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (!root) return;
  HINTERNET request = InternetOpenUrlW(root, url, nullptr, 0, INTERNET_FLAG_NO_CACHE_WRITE, 0);
  if (!request) {
    InternetCloseHandle(root);
    return;
  }
  WriteTraceLine(trace.get());

  const DWORD status = StatusCode(request);
  if (status >= 200 && status < 300) {
    FILE* file = fopen(partPath.get(), "wb");
    if (file) {
      bool complete = CopyBodyToFile(request, file);
      // fclose writes what is still buffered; its failure is a short file.
      if (fclose(file) != 0) complete = false;
      if (!complete || !MoveFileExA(partPath.get(), finalPath.get(), MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileA(partPath.get());
      }
    }
  }
  InternetCloseHandle(request);
  InternetCloseHandle(root);
}

char* WideToAnsi(const wchar_t* text) {
  const int length = static_cast<int>(wcslen(text));
  const int bytes = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
  // Two spare zero bytes: the result always ends in a terminator, even
  // when the second conversion writes less than the first one counted.
  char* ansi = new char[static_cast<size_t>(bytes) + 2]();
  WideCharToMultiByte(CP_ACP, 0, text, length, ansi, bytes + 2, nullptr, nullptr);
  return ansi;
}
