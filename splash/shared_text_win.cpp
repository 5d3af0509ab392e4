#include "splash/shared_text_win.h"

const char16_t* ReadSharedText(const std::atomic<const char16_t*>& text) {
  return text.load(std::memory_order_acquire);
}
