#include "splash/shared_text_win.h"

#include "base/system_text_win.h"

const wchar_t* ReadSharedText(const std::atomic<const char16_t*>& text) {
  return SystemText(text.load(std::memory_order_acquire));
}
