// The painter of the test build that meets the worst timing of a worker: the
// download fails, and the failure texts are set and a repaint requested, right
// after the first frame has read its headline. Linked ahead of the edge
// library, so the program's own ReadSharedText is not.
#include "splash/shared_text_win.h"
#include "state/setup_state.h"

const char16_t* ReadSharedText(const std::atomic<const char16_t*>& text) {
  static bool failed = false;
  const char16_t* read = text.load(std::memory_order_acquire);
  if (!failed && &text == &setupGlobals.headline) {
    failed = true;
    ShowFailureTexts();
  }
  return read;
}
