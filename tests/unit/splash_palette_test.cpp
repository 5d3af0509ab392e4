#include "splash/splash_palette.h"

#include <gtest/gtest.h>

namespace {

constexpr SplashPalette kOwn{0xFF242424, 0xFFD9D9D9, 0xFFB3B3B3, kSplashLinkColor, true};

TEST(SplashPalette, HighContrastTakesTheSystemsColoursWithoutThePattern) {
  struct Case {
    const char* what;
    bool highContrast;
    SystemColors system;  // 0x00BBGGRR
    SplashPalette expected;
  };
  const Case cases[] = {
      {"no theme: the splash's own, whatever the system's", false,
       {0x00FFFFFF, 0x00000000, 0x00CC0000}, kOwn},
      {"black theme", true, {0x00000000, 0x00FFFFFF, 0x0000FFFF},
       {0xFF000000, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFF00, false}},
      {"channels in GetSysColor's order", true, {0x00563412, 0x00ABCDEF, 0x00102030},
       {0xFF123456, 0xFFEFCDAB, 0xFFEFCDAB, 0xFF302010, false}},
      {"the top byte of a system colour is no alpha", true, {0x01000000, 0x02FFFFFF, 0x0300FF00},
       {0xFF000000, 0xFFFFFFFF, 0xFFFFFFFF, 0xFF00FF00, false}},
      {"a hot-track colour lost in the background: the text's", true,
       {0x00FFFFFF, 0x00000000, 0x00FFFFFF},
       {0xFFFFFFFF, 0xFF000000, 0xFF000000, 0xFF000000, false}},
  };
  for (const Case& c : cases) {
    const SplashPalette p = ChooseSplashPalette(kOwn, c.highContrast, c.system);
    EXPECT_EQ(p.background, c.expected.background) << c.what;
    EXPECT_EQ(p.text, c.expected.text) << c.what;
    EXPECT_EQ(p.hint, c.expected.hint) << c.what;
    EXPECT_EQ(p.link, c.expected.link) << c.what;
    EXPECT_EQ(p.drawsPattern, c.expected.drawsPattern) << c.what;
  }
}

}  // namespace
