#include "splash/fallback_link.h"

#include "state/setup_state.h"

FallbackLink fallbackLink{nullptr, nullptr};

const char16_t* ShownLinkText() {
  if (fallbackLink.page == nullptr ||
      setupGlobals.progressText.load(std::memory_order_acquire) != kFailureProgressText) {
    return nullptr;
  }
  return fallbackLink.text != nullptr ? fallbackLink.text : kDefaultFallbackText;
}

bool FallbackPageToOpen(char16_t* wide) {
  const char* page = fallbackLink.page;
  if (ShownLinkText() == nullptr) return false;
  for (std::size_t at = 0; at < kFallbackPageCapacity; ++at) {
    wide[at] = static_cast<unsigned char>(page[at]);
    if (page[at] == '\0') return true;
  }
  return false;
}
