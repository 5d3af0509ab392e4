// Paints the whole splash into the setup window: composed off-screen, then
// drawn in one operation, so a repaint never flickers.
#pragma once

#include <windows.h>

void PaintSplash(HWND hwnd);
