// The splash window: a layered, topmost, draggable popup with the progress ring.
#pragma once

#include "launcher/shared_state.h"

// Creates, shows and runs the splash window on the calling thread; returns
// when its message loop has ended.
int RunSplashWindow(SplashWindowParams& params);
