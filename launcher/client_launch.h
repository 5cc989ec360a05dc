// Finding the installed client through its App Paths registration, and
// starting an executable with the application identifier as its argument.
#pragma once

#include <stddef.h>

#include "launcher/launch_context.h"

// Capacity, terminator included, of a registered client path or installer path.
constexpr size_t kClientPathCapacity = 260;
// Room for a quoted path of kClientPathCapacity, a space and a quoted
// identifier of 255 characters: every path that fits its buffer fits here.
constexpr size_t kCommandLineCapacity = kClientPathCapacity + 255 + 5;

constexpr wchar_t kAppPathsKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\PimbrelMini.exe";

// Reads the default value of HKLM\<kAppPathsKey> into |path| (capacity
// kClientPathCapacity). True when it was read; false leaves |path| untouched.
// Paths of up to kClientPathCapacity - 1 characters are found.
bool ReadInstalledClientPath(wchar_t* path);

// Writes "<path>" "<appIdText>" into |commandLine| of |capacity| characters.
// False, with nothing written, when it would not fit.
bool BuildClientCommandLine(const wchar_t* path, const wchar_t* appIdText, wchar_t* commandLine,
                            size_t capacity);

// Starts the executable at |path| with the quoted path and the quoted
// identifier as its command line, if the file exists. Never waits.
void LaunchClient(const wchar_t* path, const LaunchContext* context);
