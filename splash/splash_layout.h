// Where the splash puts its logo, texts and pattern tiles for a window width
// and DPI. Portable arithmetic, shared by the painter and the native tests.
#pragma once

// A layout length given at 96 DPI in pixels at `dpi`, rounded to nearest with
// halves away from zero (the rounding of the system's MulDiv).
int ScaleToDpi(int length, int dpi);

struct PixelRect {
  int left;
  int top;
  int width;
  int height;
};

// A text block centred on (centreX, centreY), drawn in a font of fontPixels.
struct TextPlacement {
  int centreX;
  int centreY;
  int fontPixels;
};

struct SplashLayout {
  PixelRect logo;
  TextPlacement headline;
  TextPlacement progress;
  TextPlacement hint;
};

SplashLayout LayoutSplash(int windowWidth, int dpi);

// The grid of 150 x 122 pattern tiles drawn in the rotated pattern layer. It
// does not scale with the DPI: tile size, steps and margins are device pixels.
struct TileGrid {
  int firstX;
  int firstY;
  int stepX;
  int stepY;
  int tileWidth;
  int tileHeight;
  int columns;
  int rows;
};

TileGrid PatternTileGrid(int layerWidth, int layerHeight);

// The pattern layer's rotation, clockwise on screen, in degrees.
inline constexpr float kPatternAngleDegrees = 23.0f;
