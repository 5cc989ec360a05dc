// The splash renderer: artwork, progress ring, percentage and debug label,
// drawn with GDI+ off-screen and pushed to the layered window with per-pixel alpha.
#pragma once

#include <windows.h>

#include <cstdint>

#include <gdiplus.h>

// The off-screen surface of one frame. Only its top-left, window-sized part
// reaches the screen.
constexpr int32_t kSplashSurfaceWidth = 468;
constexpr int32_t kSplashSurfaceHeight = 288;

// The decoded splash artwork (PNG resource 102); null when it could not be
// loaded. Set once before the window exists, never released.
extern Gdiplus::GpImage* g_splashImage;

// Decodes the artwork from the executable's resources into g_splashImage.
// GDI+ must be started. Reports nothing; stops at the first failing step.
void LoadSplashImage();

// Draws one frame at |progress| into |pixels|: a top-down 32-bpp premultiplied
// BGRA buffer of |width| x |height| pixels, rows packed. Out-of-range progress
// (negative or above 100) draws the artwork alone. Safe on any thread.
void RenderSplashFrame(void* pixels, int32_t width, int32_t height, int32_t progress,
                       bool debugLabel);

// Renders a frame from g_progress and g_debugLabel and pushes it to |window|
// at the window's current screen position. Called on the main thread and on
// the animation thread; does nothing visible for a window that is gone.
void PaintSplash(HWND window);
