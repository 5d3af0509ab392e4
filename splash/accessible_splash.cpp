#include "splash/accessible_splash.h"

#include <initializer_list>

#include "base/utf16_string.h"

#include "splash/fallback_link.h"
#include "state/setup_state.h"

const char16_t* AccessibleText(AccessibleProperty property, AccessibleAnswer& room) {
  const char16_t* link = ShownLinkText();
  switch (property) {
    case AccessibleProperty::kName:
      return setupGlobals.headline.load(std::memory_order_acquire);
    case AccessibleProperty::kValue:
      return setupGlobals.progressText.load(std::memory_order_acquire);
    case AccessibleProperty::kDefaultAction:
      return link;
    case AccessibleProperty::kDescription:
      break;
  }
  const char16_t* hint = setupGlobals.hint.load(std::memory_order_acquire);
  if (link == nullptr) return hint;
  std::size_t at = 0;
  for (const char16_t* part : {hint, u"\r\n", link}) {
    for (std::size_t i = 0; const char16_t unit = ReadUtf16Unit(part, i); ++i) {
      // Cannot happen (see AccessibleAnswer); the hint alone then.
      if (at == kAccessibleAnswerCapacity - 1) return hint;
      room[at++] = unit;
    }
  }
  room[at] = u'\0';
  return room;
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
