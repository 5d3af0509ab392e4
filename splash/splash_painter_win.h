// Paints the whole splash into the setup window: composed off-screen, then
// drawn in one operation, so a repaint never flickers.
#pragma once

#include <windows.h>

void PaintSplash(HWND hwnd);

// The theme or the system's colours changed: the next paint reads them again
// and draws the splash's background, pattern and logo anew.
void ForgetSplashTheme();

// Whether the point (x, y) of the window lies on the fallback page's link,
// as the last frame drew it: never before a failure, nor in a copy that
// names no page.
bool SplashLinkAt(int x, int y);
