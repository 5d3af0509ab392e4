// The colours the splash draws in: its own, or in a high-contrast theme the
// system's. Portable: the edge reads the theme and the system's colours and
// hands them in.
#pragma once

#include <cstdint>

// Colours as GDI+ takes them: 0xAARRGGBB.
struct SplashPalette {
  std::uint32_t background;
  std::uint32_t text;
  std::uint32_t hint;
  std::uint32_t link;
  bool drawsPattern;
};

// The link's own colour: a light blue that stands out from the texts and
// reads on the dark background (a contrast of about 7 to 1).
inline constexpr std::uint32_t kSplashLinkColor = 0xFF6CB4FF;

// The system's colours as GetSysColor answers them: 0x00BBGGRR.
struct SystemColors {
  std::uint32_t window;
  std::uint32_t windowText;
  std::uint32_t hotLight;
};

// Without a high-contrast theme, `own`. With one, the system's colours and
// no pattern, which would stand between the person and the text: the
// window's background, its text colour for every text, and the hot-track
// colour for the link, unless that is the background's colour (a theme with
// none to speak of), when the link takes the text's.
SplashPalette ChooseSplashPalette(const SplashPalette& own, bool highContrast,
                                  const SystemColors& system);
