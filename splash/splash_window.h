// The splash window: a layered, topmost, draggable popup with the progress
// ring, and the animation thread that paces it and closes it.
#pragma once

#include <windows.h>

#include "launcher/shared_state.h"

// Class name of the splash window.
constexpr wchar_t kSplashClassName[] = L"PimbrelLoading";

// Loads the artwork, creates, centres and shows the splash window and runs its
// message loop on the calling thread. Returns once the window has been
// destroyed and its animation thread has ended (so no render outlives the
// call), or at once when no window could be created. Result: the quit code, 0.
int RunSplashWindow(SplashWindowParams& params);

// Moves params.window to the middle of the desktop and makes it topmost,
// without activating it.
void CenterWindowOnDesktop(SplashWindowParams& params);

// Window procedure of the "PimbrelLoading" class.
LRESULT CALLBACK SplashWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Animation thread, started with the splash window's HWND: steps g_progress
// to 100 with a frame and a 10 ms pause per step, holds the 100 % frame for a
// second and closes the window. Stops at once when the window is closed early.
unsigned __stdcall SplashAnimationThread(void* window);
