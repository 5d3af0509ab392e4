// Where the splash puts its logo, texts and pattern tiles for a window width
// and DPI. Portable arithmetic, shared by the painter and the native tests.
#pragma once

#include <cstdlib>

// A layout length given at 96 DPI in pixels at `dpi`, rounded to nearest with
// halves away from zero (the rounding of the system's MulDiv). For any length
// of the splash (the window's 500 at most) at any DPI a message can carry
// (0xFFFF at most): their product must stay below 2^31.
int ScaleToDpi(int length, int dpi);

struct PixelRect {
  int left;
  int top;
  int width;
  int height;
};

// A text block centred on (centreX, centreY), drawn in a font of fontPixels,
// or smaller where its lines would be wider than TextWidth; at most maxLines.
struct TextPlacement {
  int centreX;
  int centreY;
  int fontPixels;
  int maxLines;
};

// How wide a line of text may be: the window's width but a tenth, which is
// left as margins, half on each side.
inline int TextWidth(const TextPlacement& placement) { return placement.centreX * 9 / 5; }

struct SplashLayout {
  PixelRect logo;
  TextPlacement headline;
  TextPlacement progress;
  TextPlacement hint;
  // The fallback page's link, drawn only after a failure: between the
  // progress text and the hint, clear of both at their most lines.
  TextPlacement link;
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

// The most lines any text of the splash takes: the hint's two lines, each
// wrapped once.
inline constexpr int kMaxTextLines = 4;

// One line of a text: `length` UTF-16 units from unit `start`. No line holds
// a control character.
struct TextLine {
  int start;
  int length;
};

// A text as it is drawn: its lines, top to bottom, in a font of fontPixels;
// `width` is the widest line's.
struct FittedText {
  int fontPixels;
  int lineCount;
  int width;
  TextLine lines[kMaxTextLines];
};

// How wide `length` units of `text` (none, for an empty line) are drawn on
// one line in a font of fontPixels, in pixels: the painter measures with the
// system's text layout.
struct TextMeasure {
  int (*width)(const void* context, const char16_t* text, int length, int fontPixels);
  const void* context;
};

// Lays `text` out for `placement` (maxLines at most kMaxTextLines). A line
// break (CR, LF, CR LF: any run of control characters) starts a line; lines
// beyond placement.maxLines are not drawn. A line wider than TextWidth wraps once,
// at the space or the place between CJK characters nearest its middle,
// while the lines stay within maxLines; if a line is still too wide, the
// font shrinks a pixel at a time until every line fits.
FittedText FitText(const char16_t* text, const TextPlacement& placement,
                   const TextMeasure& measure);

// Whether a text is a right-to-left paragraph: its first letter (after any
// digits, spaces and ASCII punctuation) is Hebrew or Arabic (or one of their
// presentation forms).
bool ReadsRightToLeft(const char16_t* text);

// The distance between the lines of a text in a font of fontPixels: the
// line spacing of Arial (and of its metric twin Liberation Sans), 2355/2048
// of the font size, as GDI+ places the lines of one string.
inline float LineSpacing(int fontPixels) {
  return static_cast<float>(fontPixels) * (2355.0f / 2048.0f);
}

// The vertical centre of the first of `count` lines `spacing` apart whose
// block is centred on `centreY`.
inline float FirstLineCentreY(int centreY, int count, float spacing) {
  return static_cast<float>(centreY) - static_cast<float>(count - 1) * spacing / 2.0f;
}

// Whether a press at the window point (x, y) is on the link laid out as
// `fitted` for `placement`: on its block of lines, as wide as its widest line
// and half the font size more on each side (the system's layout pads a
// line, and a pointer need not be exact), as high as its lines, edges
// included.
// Inline: its one caller, the hit test, then needs no call.
inline bool LinkHolds(const TextPlacement& placement, const FittedText& fitted, int x, int y) {
  const int width = fitted.width + fitted.fontPixels;
  // The lines' spacing (LineSpacing) in whole pixels, rounded up so that the
  // block holds every pixel row of the lines. A shift, since every length is
  // positive: a signed division brings its sign fix-up.
  const int height = (fitted.lineCount * fitted.fontPixels * 2355 + 2047) >> 11;
  return 2 * std::abs(x - placement.centreX) <= width &&
         2 * std::abs(y - placement.centreY) <= height;
}
