// The page with the full installer that a failed run offers as a link, when
// the tag names one. Portable: what the link shows and opens is decided here
// and tested natively; the edge (fallback_link_win.h) opens it.
#pragma once

#include <cstddef>

// The link's built-in English text, for a tag that names a page without one.
inline constexpr char16_t kDefaultFallbackText[] = u"DOWNLOAD THE FULL INSTALLER";

struct FallbackLink {
  // The tag's page, ASCII, exactly as signed; null when the tag names none.
  const char* page;
  // The link's text in the person's language; null for the built-in one.
  const char16_t* text;
};

// Set once by start-up, before the window exists; read on the window's
// thread only.
extern FallbackLink fallbackLink;

// The link's text while the link is there: once the failure texts are up,
// and only in a copy whose tag names a page. Null otherwise.
const char16_t* ShownLinkText();

// Room for any page the tag can carry: its payload holds 767 bytes.
inline constexpr std::size_t kFallbackPageCapacity = 768;

// The page, widened unit for unit into `wide` (kFallbackPageCapacity units,
// the NUL included), for the shell: true when the link is there and the
// page fits. The page is as signed: the tag's signature holds it, and the
// signing tool and the service sign an http:// or https:// URL alone.
bool FallbackPageToOpen(char16_t* wide);
