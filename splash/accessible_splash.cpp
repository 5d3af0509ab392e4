#include "splash/accessible_splash.h"

#include "state/setup_state.h"

const char16_t* AccessibleText(AccessibleProperty property) {
  switch (property) {
    case AccessibleProperty::kName:
      return setupGlobals.headline.load(std::memory_order_acquire);
    case AccessibleProperty::kValue:
      return setupGlobals.progressText.load(std::memory_order_acquire);
    case AccessibleProperty::kDescription:
      break;
  }
  return setupGlobals.hint.load(std::memory_order_acquire);
}

AnnouncedTexts ShownTexts() {
  return AnnouncedTexts{setupGlobals.headline.load(std::memory_order_acquire),
                        setupGlobals.progressText.load(std::memory_order_acquire)};
}

TextChangeEvents EventsForChange(const AnnouncedTexts& announced, const AnnouncedTexts& shown) {
  return TextChangeEvents{{
      shown.headline != announced.headline ? kNameChangeEvent : kNoEvent,
      shown.progressText != announced.progressText ? kValueChangeEvent : kNoEvent,
  }};
}
