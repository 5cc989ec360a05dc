// The two HTTP transfers of the install job, over WinINet.
#pragma once

#include <stddef.h>

// Fetches |url| into |text| (|capacity| bytes, terminator included) as
// NUL-terminated text. When the URL cannot be opened, |text| is untouched;
// when the body does not fit, |text| is left empty, never cut or overrun.
// Writes one trace line (the URL) to stdout once the URL is open.
void FetchText(const wchar_t* url, char* text, size_t capacity);

// Downloads |url| into the file at |path|. The body goes to a temporary file
// beside it that replaces |path| only after a complete 2xx body; any failure
// removes the temporary file and leaves |path| as it was.
// Writes one trace line (the URL) to stdout once the URL is open.
void DownloadToFile(const wchar_t* url, const wchar_t* path);

// |text| in the ANSI code page, in a new zero-filled array of the converted
// length plus 2 bytes; the caller releases it with delete[].
char* WideToAnsi(const wchar_t* text);
