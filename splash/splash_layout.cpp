#include "splash/splash_layout.h"

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
constexpr int kHeadlineLines = 2;
// Two lines of 16 pixels centred on 400 span 382 to 418: below the progress
// text's line (333 to 367) and above the hint's four lines (428 to 492).
constexpr int kLinkCentreY = 400;
constexpr int kLinkFont = 16;
constexpr int kLinkLines = 2;

// The tile and the margins that let the rotated grid reach past every edge
// of the layer: two tiles on each side.
constexpr int kTileWidth = 150;
constexpr int kTileHeight = 122;
constexpr int kMarginX = 2 * kTileWidth;
constexpr int kMarginY = 2 * kTileHeight;

// C0 and C1 controls and DEL: a text's line breaks, or any other control,
// which the painter must never hand to the drawing call either.
bool IsControl(char16_t unit) { return unit < 0x20 || static_cast<char16_t>(unit - 0x7F) < 0x21; }

// Han, kana, hangul and their full-width forms (with the private use area
// between them), written without spaces: a line may break before any of
// them, never inside a surrogate pair.
bool IsCjk(char16_t unit) { return unit >= 0x2E80 && unit < 0xFFF0 && (unit & 0xF800) != 0xD800; }

// Whether a wrapped line may end before unit `at` of `text`, inside a line:
// at a space, which neither line keeps, or before a CJK character.
bool BreaksBefore(const char16_t* text, int at) {
  if (text[at] == u' ') return true;
  return IsCjk(text[at]);
}

int LineEnd(const char16_t* text, int start) {
  while (text[start] != 0 && !IsControl(text[start])) ++start;
  return start;
}

// Past the line break at `end`: a run of control characters (CR LF, say)
// is one break.
int NextLineStart(const char16_t* text, int end) {
  while (text[end] != 0 && IsControl(text[end])) ++end;
  return end;
}

int Width(const TextMeasure& measure, const char16_t* text, int start, int end, int fontPixels) {
  return measure.width(measure.context, text + start, end - start, fontPixels);
}

// Lays the text out at fitted.fontPixels; returns the widest line's width.
// A line too wide for maxWidth wraps once, while a line is left
// to spare for it, at the place to break nearest its middle.
int LayOutLines(const char16_t* text, const TextPlacement& placement, int maxWidth,
                const TextMeasure& measure, FittedText& fitted) {
  int spareLines = placement.maxLines - 1;
  for (int at = LineEnd(text, 0); text[at] != 0; at = LineEnd(text, NextLineStart(text, at)))
    --spareLines;
  int widest = 0;
  fitted.lineCount = 0;
  for (int start = 0; fitted.lineCount < placement.maxLines;) {
    const int end = LineEnd(text, start);
    int width = Width(measure, text, start, end, fitted.fontPixels);
    if (width > maxWidth && spareLines > 0) {
      int breakAt = end;
      for (int at = start + 1; at < end; ++at) {
        if (BreaksBefore(text, at) &&
            (breakAt == end || 2 * at - start - end < start + end - 2 * breakAt))
          breakAt = at;
      }
      if (breakAt < end) {
        --spareLines;
        fitted.lines[fitted.lineCount++] = TextLine{start, breakAt - start};
        width = Width(measure, text, start, breakAt, fitted.fontPixels);
        start = breakAt + (text[breakAt] == u' ');
        const int second = Width(measure, text, start, end, fitted.fontPixels);
        if (second > width) width = second;
      }
    }
    fitted.lines[fitted.lineCount++] = TextLine{start, end - start};
    if (width > widest) widest = width;
    if (text[end] == 0) break;
    start = NextLineStart(text, end);
  }
  return widest;
}

// How many steps from `first` stay below `limit`.
int CountSteps(int first, int limit, int step) {
  return limit > first ? (limit - first + step - 1) / step : 0;
}

}  // namespace

int ScaleToDpi(int length, int dpi) {
  // In 32 bits: a 64-bit division would bring a 320-byte helper into the
  // 32-bit exe.
  const int product = length * dpi;
  return (product + (product >= 0 ? 48 : -48)) / 96;
}

SplashLayout LayoutSplash(int windowWidth, int dpi) {
  const int centreX = windowWidth / 2;
  const int logoWidth = ScaleToDpi(kLogoWidth, dpi);
  return SplashLayout{
      .logo{centreX - logoWidth / 2, ScaleToDpi(kLogoTop, dpi), logoWidth,
            ScaleToDpi(kLogoHeight, dpi)},
      .headline{centreX, ScaleToDpi(kHeadlineCentreY, dpi), ScaleToDpi(kHeadlineFont, dpi),
                kHeadlineLines},
      .progress{centreX, ScaleToDpi(kProgressCentreY, dpi), ScaleToDpi(kProgressFont, dpi), 1},
      .hint{centreX, ScaleToDpi(kHintCentreY, dpi), ScaleToDpi(kHintFont, dpi), kMaxTextLines},
      .link{centreX, ScaleToDpi(kLinkCentreY, dpi), ScaleToDpi(kLinkFont, dpi), kLinkLines},
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

FittedText FitText(const char16_t* text, const TextPlacement& placement,
                   const TextMeasure& measure) {
  const int maxWidth = TextWidth(placement);
  // The lines past lineCount are never read.
  FittedText fitted;
  fitted.fontPixels = placement.fontPixels;
  for (;;) {
    fitted.width = LayOutLines(text, placement, maxWidth, measure, fitted);
    if (fitted.width <= maxWidth || fitted.fontPixels <= 1) return fitted;
    // A pixel smaller each time: a layout measures each line and half at
    // most once, so even a long shrink takes few measurements.
    --fitted.fontPixels;
  }
}

bool ReadsRightToLeft(const char16_t* text) {
  // Digits, spaces and ASCII punctuation decide nothing.
  while (*text != 0 && *text < u'A') ++text;
  const char16_t unit = *text;
  return (unit >= 0x0590 && unit < 0x0900) || (unit >= 0xFB1D && unit < 0xFF00);
}
