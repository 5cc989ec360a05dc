// The install worker: fetch the manifest, download the installer, start it,
// then report completion to the entry point.
#pragma once

#include "launcher/launch_context.h"

// Thread start routine for _beginthreadex; |context| is the LaunchContext.
// Runs the install job, then the completion step; returns 0.
unsigned __stdcall InstallWorkerThread(void* context);

// The install job itself; returns 0 on every path.
unsigned RunInstallJob(const LaunchContext* context);
