// The little of <windows.h> that fetch/manifest.cc uses, for the native
// fuzz build on Linux. MultiByteToWideChar stands in for the Western
// European ANSI code page (1252) and keeps the Windows contract: a length
// of -1 converts the terminator too, a null output asks for the size, and
// an output that is too small gets what fits and a result of 0.
#pragma once

#include <stddef.h>

typedef unsigned int UINT;
typedef unsigned long DWORD;
typedef wchar_t WCHAR;

constexpr UINT CP_ACP = 0;

// Code page 1252 from 0x80 to 0x9F; the other bytes are their own code point.
inline wchar_t AnsiByteToWide(unsigned char byte) {
  static const wchar_t kHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  return (byte >= 0x80 && byte < 0xA0) ? kHigh[byte - 0x80] : static_cast<wchar_t>(byte);
}

inline int MultiByteToWideChar(UINT codePage, DWORD flags, const char* bytes, int byteCount,
                               wchar_t* wide, int wideCount) {
  if (codePage != CP_ACP || flags != 0 || !bytes || wideCount < 0) return 0;
  size_t count = 0;
  if (byteCount < 0) {
    while (bytes[count]) ++count;
    ++count;  // the terminator
  } else {
    count = static_cast<size_t>(byteCount);
  }
  if (count == 0) return 0;
  if (wideCount == 0) return static_cast<int>(count);
  const size_t room = static_cast<size_t>(wideCount);
  for (size_t i = 0; i < count && i < room; ++i) {
    wide[i] = AnsiByteToWide(static_cast<unsigned char>(bytes[i]));
  }
  return count <= room ? static_cast<int>(count) : 0;
}
