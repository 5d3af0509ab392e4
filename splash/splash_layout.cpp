#include "splash/splash_layout.h"

#include <cstdint>

namespace {

// Layout lengths at 96 DPI.
constexpr int kLogoWidth = 246;
constexpr int kLogoHeight = 151;
constexpr int kLogoTop = 60;
constexpr int kHeadlineCentreY = 250;
constexpr int kHeadlineFont = 24;
constexpr int kProgressCentreY = 350;
constexpr int kProgressFont = 30;
constexpr int kHintCentreY = 460;
constexpr int kHintFont = 14;

// The tile and the margins that let the rotated grid reach past every edge
// of the layer: two tiles on each side.
constexpr int kTileWidth = 150;
constexpr int kTileHeight = 122;
constexpr int kMarginX = 2 * kTileWidth;
constexpr int kMarginY = 2 * kTileHeight;

// How many steps from `first` stay below `limit`.
int CountSteps(int first, int limit, int step) {
  return limit > first ? (limit - first + step - 1) / step : 0;
}

}  // namespace

int ScaleToDpi(int length, int dpi) {
  const std::int64_t product = static_cast<std::int64_t>(length) * dpi;
  const std::int64_t half = product >= 0 ? 48 : -48;
  return static_cast<int>((product + half) / 96);
}

SplashLayout LayoutSplash(int windowWidth, int dpi) {
  const int centreX = windowWidth / 2;
  const int logoWidth = ScaleToDpi(kLogoWidth, dpi);
  return SplashLayout{
      .logo{centreX - logoWidth / 2, ScaleToDpi(kLogoTop, dpi), logoWidth,
            ScaleToDpi(kLogoHeight, dpi)},
      .headline{centreX, ScaleToDpi(kHeadlineCentreY, dpi), ScaleToDpi(kHeadlineFont, dpi)},
      .progress{centreX, ScaleToDpi(kProgressCentreY, dpi), ScaleToDpi(kProgressFont, dpi)},
      .hint{centreX, ScaleToDpi(kHintCentreY, dpi), ScaleToDpi(kHintFont, dpi)},
  };
}

TileGrid PatternTileGrid(int layerWidth, int layerHeight) {
  return TileGrid{
      .firstX = -kMarginX,
      .firstY = -kMarginY,
      .stepX = kTileWidth,
      .stepY = kTileHeight,
      .tileWidth = kTileWidth,
      .tileHeight = kTileHeight,
      .columns = CountSteps(-kMarginX, layerWidth + kMarginX, kTileWidth),
      .rows = CountSteps(-kMarginY, layerHeight + kMarginY, kTileHeight),
  };
}
