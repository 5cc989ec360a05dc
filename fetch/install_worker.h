// The install worker: fetch the manifest, download the installer, start it,
// then report completion to the entry point.
#pragma once

#include <stddef.h>

#include "launcher/launch_context.h"

// Capacities, terminator included, of the job's buffers.
constexpr size_t kUrlCapacity = 255;
constexpr size_t kManifestTextCapacity = 102400;
constexpr size_t kInstallPathCapacity = 260;

// Thread start routine for _beginthreadex; |context| is the LaunchContext.
// Runs the install job, then the completion step: g_progress to 100, the
// single-instance mutex closed, g_workerDoneEvent signalled. Returns 0.
unsigned __stdcall InstallWorkerThread(void* context);

// The install job: install folder, manifest, installer download unless the
// file is there, installer start. Returns 0 on every path.
unsigned RunInstallJob(const LaunchContext* context);

// Rewrites |url| (|capacity| characters) into its debug form: "_debug" before
// its last ".". False, with |url| unchanged, when it has no "." or the result
// would not fit.
bool MakeDebugUrl(wchar_t* url, size_t capacity);

// True when |versionName| can stand in a file name inside the install folder:
// no path separator, drive or stream colon, wildcard, quote, angle bracket,
// pipe or control character. The empty name is valid.
bool IsSafeVersionName(const wchar_t* versionName);

// Appends |text| to the terminated text in |buffer| (|capacity| characters).
// False, with |buffer| unchanged, when the result would not fit.
bool AppendText(wchar_t* buffer, size_t capacity, const wchar_t* text);

// Test seam: when set, called with the installer's path after the pinned
// installer has been checked and while it is held, just before it is started.
extern void (*g_beforePinnedStart)(const wchar_t* path);

// Starts the installer at |path| only if its content has the SHA-256
// |digest|. A file already there that differs is removed and, when |url| is
// not empty, downloaded once more; a download that differs is removed. The
// checked file stays open without write or delete sharing until the
// process has been created. True when the installer was handed to
// LaunchClient.
bool StartPinnedInstaller(const wchar_t* url, const wchar_t* path, const unsigned char* digest,
                          const LaunchContext* context);
