// What the splash tells assistive technology, apart from the COM object that
// answers for it (accessible_splash_win.h). Portable, so the answers and the
// events a change calls for are tested natively.
#pragma once

#include <cstdint>

#include <cstddef>

// The properties of the accessible object that carry a text of the splash.
enum class AccessibleProperty { kName, kValue, kDescription, kDefaultAction };

// Room for an answer made of two texts, the hint and the link's, and the
// line break between them. Any two texts of one tag fit (its payload holds
// 767 bytes: 383 units at most), and so does either beside a built-in one.
inline constexpr std::size_t kAccessibleAnswerCapacity = 512;  // units, the NUL included
using AccessibleAnswer = char16_t[kAccessibleAnswerCapacity];

// The text that answers `property` at this moment: the headline names the
// object, the progress text is its value and the hint its description.
// After a failure, in a copy that names a fallback page, the description
// ends with the link's text on a line of its own, and the link's text names
// the object's default action, which opens the page; null otherwise, when
// the object has no default action of its own. A composed answer is written
// into `room`.
const char16_t* AccessibleText(AccessibleProperty property, AccessibleAnswer& room);

// The splash's two texts that change, as assistive technology last heard of
// them. Every text is an immutable string, so a new pointer is a new text.
struct AnnouncedTexts {
  const char16_t* headline;
  const char16_t* progressText;
};

// The two texts as they stand now.
AnnouncedTexts ShownTexts();

// WinEvent codes, as <winuser.h> defines them; 0 is none.
inline constexpr std::uint32_t kNoEvent = 0;
inline constexpr std::uint32_t kNameChangeEvent = 0x800C;   // EVENT_OBJECT_NAMECHANGE
inline constexpr std::uint32_t kValueChangeEvent = 0x800E;  // EVENT_OBJECT_VALUECHANGE

// The events to raise, in this order; kNoEvent where none is due.
struct TextChangeEvents {
  std::uint32_t events[2];
};

// What tells of the change from `announced` to `shown`: a name change for a
// new headline, first (the failure's "FAILED TO DOWNLOAD" before its ":("),
// then a value change for a new progress text.
TextChangeEvents EventsForChange(const AnnouncedTexts& announced, const AnnouncedTexts& shown);
