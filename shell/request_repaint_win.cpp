#include <windows.h>

#include "shell/setup_globals.h"

// Erase is requested, yet the window answers WM_ERASEBKGND without erasing, so
// it costs no flicker.
void RequestRepaint() {
  InvalidateRect(setupGlobals.window.load(std::memory_order_acquire), nullptr, TRUE);
}
