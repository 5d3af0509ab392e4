// The native tests' RequestRepaint: counts the calls instead of invalidating a window.
#include "tests/unit/request_repaint_counter.h"

#include "shell/setup_globals.h"

namespace {
int repaintRequests = 0;
}

void RequestRepaint() { ++repaintRequests; }

int RepaintRequests() { return repaintRequests; }

void ResetRepaintRequests() { repaintRequests = 0; }
