// The window's side of RequestRepaint, alone in its file so that the
// repaint-counting benchmark build can stand in its own.
#include <windows.h>

#include "shell/setup_window_win.h"
#include "state/setup_state.h"

// Erase is requested, yet the window answers WM_ERASEBKGND without erasing, so
// it costs no flicker.
void InvalidateSetupWindow() { InvalidateRect(SetupWindow(), nullptr, TRUE); }
