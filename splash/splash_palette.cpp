#include "splash/splash_palette.h"

namespace {

// 0x00BBGGRR reversed is 0xRRGGBB00; the top byte of a system colour is no alpha.
std::uint32_t OpaqueArgb(std::uint32_t colorRef) {
  return 0xFF000000u | __builtin_bswap32(colorRef) >> 8;
}

}  // namespace

SplashPalette ChooseSplashPalette(const SplashPalette& own, bool highContrast,
                                  const SystemColors& system) {
  if (!highContrast) return own;
  const std::uint32_t background = OpaqueArgb(system.window);
  const std::uint32_t text = OpaqueArgb(system.windowText);
  const std::uint32_t hotLight = OpaqueArgb(system.hotLight);
  return SplashPalette{.background = background,
                       .text = text,
                       .hint = text,
                       .link = hotLight == background ? text : hotLight,
                       .drawsPattern = false};
}
