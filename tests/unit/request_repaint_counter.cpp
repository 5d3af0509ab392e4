// The native tests' repaint hook: counts the calls instead of invalidating a window.
#include "tests/unit/request_repaint_counter.h"

#include "state/setup_state.h"

namespace {

int repaintRequests = 0;

void CountRepaint() { ++repaintRequests; }

}  // namespace

int RepaintRequests() { return repaintRequests; }

void ResetRepaintRequests() {
  SetRepaintHook(CountRepaint);
  repaintRequests = 0;
}
