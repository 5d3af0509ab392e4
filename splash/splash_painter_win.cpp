#include "splash/splash_painter_win.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/system_text_win.h"
#include "splash/accessible_splash.h"
#include "splash/fallback_link.h"
#include "splash/gdiplus_flat_win.h"
#include "splash/high_contrast_win.h"
#include "splash/shared_text_win.h"
#include "splash/splash_image_win.h"
#include "splash/splash_layout.h"
#include "splash/splash_look.h"
#include "splash/splash_palette.h"
#include "state/setup_state.h"

namespace {

constexpr wchar_t kFontFamily[] = L"Arial";

// A text's lines as last laid out, for as long as the text and the layout
// stay: a frame lays out only a text that changed since the last.
struct LaidOutText {
  const char16_t* text;
  FittedText fitted;
};

// What one frame leaves the next. Every frame has the same background,
// pattern and logo until the window's size, its DPI or the theme changes:
// they are drawn once into the static layer, which each frame copies before
// it draws the texts.
struct PainterCache {
  int width;
  int height;
  // -1 once the theme changes: no DPI matches, and the next frame renews
  // the static layer.
  int dpi;
  SplashPalette palette;
  SplashLayout layout;
  // The static layer's pixels, then as many for the frame; null before the
  // first paint, or when they could not be had.
  std::uint32_t* pixels;
  LaidOutText headline;
  LaidOutText progress;
  LaidOutText hint;
  // Null until a frame since the last renewal has drawn the link.
  LaidOutText link;
};

// In .bss, which takes no room in the file: with a section of its own per
// datum, the compiler would give it one of initialised data, zeros in full.
[[gnu::section(".bss")]] PainterCache cache;

// A 32-bit ARGB bitmap of the window's size over `pixels`, which it draws
// into and outlives, and its graphics.
struct Canvas {
  GpImage* bitmap;
  GpGraphics* graphics;
};

Canvas CanvasOver(std::uint32_t* pixels) {
  Canvas canvas{nullptr, nullptr};
  gdiplus.GdipCreateBitmapFromScan0(cache.width, cache.height, cache.width * 4,
                                    kPixelFormat32bppARGB, reinterpret_cast<BYTE*>(pixels),
                                    &canvas.bitmap);
  gdiplus.GdipGetImageGraphicsContext(canvas.bitmap, &canvas.graphics);
  return canvas;
}

void Release(const Canvas& canvas) {
  gdiplus.GdipDeleteGraphics(canvas.graphics);
  gdiplus.GdipDisposeImage(canvas.bitmap);
}

GpBrush* SolidBrush(UINT32 argb) {
  GpBrush* brush = nullptr;
  gdiplus.GdipCreateSolidFill(argb, &brush);
  return brush;
}

void ApplyQualitySettings(GpGraphics* graphics) {
  gdiplus.GdipSetInterpolationMode(graphics, kInterpolationModeHighQualityBilinear);
  gdiplus.GdipSetTextRenderingHint(graphics, kTextRenderingHintClearTypeGridFit);
  gdiplus.GdipSetSmoothingMode(graphics, kSmoothingModeHighQuality);
  gdiplus.GdipSetPixelOffsetMode(graphics, kPixelOffsetModeHighQuality);
}

void FillBackground(GpGraphics* graphics) {
  GpBrush* background = SolidBrush(cache.palette.background);
  gdiplus.GdipFillRectangleI(graphics, background, 0, 0, cache.width, cache.height);
  gdiplus.GdipDeleteBrush(background);
}

// The image `slot` holds, decoded again from `png` when the last static
// layer let it go.
GpImage* SplashImage(std::atomic<GpImage*>& slot, const EmbeddedFile& png) {
  GpImage* image = slot.load(std::memory_order_acquire);
  if (image == nullptr) {
    image = LoadEmbeddedImage(png);
    slot.store(image, std::memory_order_release);
  }
  return image;
}

// GDI+ refuses a null image, as a failed decode leaves.
void ReleaseSplashImage(std::atomic<GpImage*>& slot) {
  gdiplus.GdipDisposeImage(slot.exchange(nullptr, std::memory_order_acq_rel));
}

// The tiles go into a layer of their own over `pixels` (fully transparent),
// turned as a whole, which is then laid over the background with source-over
// blending.
void DrawPattern(GpGraphics* graphics, std::uint32_t* pixels) {
  const Canvas layer = CanvasOver(pixels);
  gdiplus.GdipRotateWorldTransform(layer.graphics, kPatternAngleDegrees, kMatrixOrderPrepend);
  const TileGrid grid = PatternTileGrid(cache.width, cache.height);
  GpImage* tile = SplashImage(splashLook.tileImage, kPatternTilePng);
  for (int row = 0; row < grid.rows; ++row) {
    for (int column = 0; column < grid.columns; ++column) {
      gdiplus.GdipDrawImageRectI(layer.graphics, tile, grid.firstX + column * grid.stepX,
                                 grid.firstY + row * grid.stepY, grid.tileWidth, grid.tileHeight);
    }
  }
  gdiplus.GdipResetWorldTransform(layer.graphics);
  gdiplus.GdipDrawImageI(graphics, layer.bitmap, 0, 0);
  Release(layer);
}

void DrawLogo(GpGraphics* frameGraphics, const PixelRect& logo) {
  GpImage* image = SplashImage(splashLook.logoImage, kLogoPng);
  gdiplus.GdipDrawImageRectI(frameGraphics, image, logo.left, logo.top, logo.width, logo.height);
}

struct TextTools {
  GpGraphics* graphics;
  GpFontFamily* family;
  GpStringFormat* format;
  int fontStyle;
};

GpFont* PixelFont(const TextTools& tools, int pixels) {
  GpFont* font = nullptr;
  gdiplus.GdipCreateFont(tools.family, static_cast<float>(pixels), tools.fontStyle, kUnitPixel,
                         &font);
  return font;
}

// Measured on one line: an empty layout rectangle neither wraps nor clips.
constexpr GdiplusRectF kUnbounded{0.0f, 0.0f, 0.0f, 0.0f};

int LineWidth(const void* context, const char16_t* text, int length, int pixels) {
  const TextTools& tools = *static_cast<const TextTools*>(context);
  GpFont* font = PixelFont(tools, pixels);
  // Only written by a measurement that succeeds.
  GdiplusRectF box;
  box.Width = 0.0f;
  gdiplus.GdipMeasureString(tools.graphics, SystemText(text), length, font, &kUnbounded,
                            tools.format, &box, nullptr, nullptr);
  gdiplus.GdipDeleteFont(font);
  // Rounded up, so a line that fits is never drawn wider than its room.
  return static_cast<int>(box.Width) + 1;
}

// Each line on its own, so no line break (or any other control character)
// reaches the drawing call, which would draw it as a missing glyph. The
// format lays a right-to-left paragraph out so; its lines stay centred.
void DrawFittedText(const TextTools& tools, const char16_t* text, const TextPlacement& placement,
                    LaidOutText& laidOut, GpBrush* brush) {
  gdiplus.GdipSetStringFormatFlags(
      tools.format, ReadsRightToLeft(text) ? kStringFormatFlagsDirectionRightToLeft : 0);
  // The texts are immutable and never freed: the same pointer is the same text.
  if (laidOut.text != text) {
    laidOut.text = text;
    // Laid out in place, without a copy.
    new (&laidOut.fitted) FittedText(FitText(text, placement, TextMeasure{LineWidth, &tools}));
  }
  const FittedText& fitted = laidOut.fitted;
  GpFont* font = PixelFont(tools, fitted.fontPixels);
  // An empty rectangle at each line's centre point: the line is centred on
  // both axes, without wrapping or clipping.
  const float spacing = LineSpacing(fitted.fontPixels);
  GdiplusRectF layout{static_cast<float>(placement.centreX),
                      FirstLineCentreY(placement.centreY, fitted.lineCount, spacing), 0.0f, 0.0f};
  for (int i = 0; i < fitted.lineCount; ++i, layout.Y += spacing) {
    const TextLine& line = fitted.lines[i];
    // An empty line draws nothing.
    gdiplus.GdipDrawString(tools.graphics, SystemText(text + line.start), line.length, font,
                           &layout, tools.format, brush);
  }
  gdiplus.GdipDeleteFont(font);
}

// After a failure, in a copy that names a fallback page: its link, underlined
// in the link's colour, under the failure texts.
void DrawLink(TextTools& tools, const TextPlacement& placement) {
  const char16_t* text = ShownLinkText();
  if (text == nullptr) return;
  GpBrush* linkBrush = SolidBrush(cache.palette.link);
  tools.fontStyle = kFontStyleUnderline;
  DrawFittedText(tools, text, placement, cache.link, linkBrush);
  gdiplus.GdipDeleteBrush(linkBrush);
}

void DrawTexts(GpGraphics* frameGraphics, const SplashLayout& layout) {
  TextTools tools{frameGraphics, nullptr, nullptr, kFontStyleRegular};
  gdiplus.GdipCreateFontFamilyFromName(kFontFamily, nullptr, &tools.family);
  gdiplus.GdipCreateStringFormat(0, LANG_NEUTRAL, &tools.format);
  gdiplus.GdipSetStringFormatLineAlign(tools.format, kStringAlignmentCenter);
  gdiplus.GdipSetStringFormatAlign(tools.format, kStringAlignmentCenter);
  GpBrush* textBrush = SolidBrush(cache.palette.text);
  // Each pointer is read once, as its text is drawn.
  DrawFittedText(tools, ReadSharedText(setupGlobals.headline), layout.headline, cache.headline,
                 textBrush);
  DrawFittedText(tools, ReadSharedText(setupGlobals.progressText), layout.progress,
                 cache.progress, textBrush);
  GpBrush* hintBrush = SolidBrush(cache.palette.hint);
  DrawFittedText(tools, setupGlobals.hint.load(std::memory_order_acquire), layout.hint,
                 cache.hint, hintBrush);
  DrawLink(tools, layout.link);
  gdiplus.GdipDeleteBrush(hintBrush);
  gdiplus.GdipDeleteBrush(textBrush);
  gdiplus.GdipDeleteStringFormat(tools.format);
  gdiplus.GdipDeleteFontFamily(tools.family);
}

void DrawOnWindow(GpImage* frame) {
  GpGraphics* windowGraphics = nullptr;
  gdiplus.GdipCreateFromHWND(SetupWindow(), &windowGraphics);
  gdiplus.GdipDrawImageI(windowGraphics, frame, 0, 0);
  gdiplus.GdipDeleteGraphics(windowGraphics);
}

SplashPalette ReadPalette() {
  const SplashPalette own{splashLook.backgroundColor, splashLook.textColor,
                          splashLook.hintColor, kSplashLinkColor, true};
  const SystemColors system{GetSysColor(COLOR_WINDOW), GetSysColor(COLOR_WINDOWTEXT),
                            GetSysColor(COLOR_HOTLIGHT)};
  return ChooseSplashPalette(own, HighContrastOn(), system);
}

std::size_t PixelCount() { return static_cast<std::size_t>(cache.width) * cache.height; }

// The background, the pattern (unless the theme drops it) and the logo, as
// the frame's first layers. The images are first decoded before the window
// shows, so the first layer never lacks one that comes later.
void DrawStaticLayer() {
  const Canvas layer = CanvasOver(cache.pixels);
  ApplyQualitySettings(layer.graphics);
  FillBackground(layer.graphics);
  // The frame's pixels are still zero: the pattern's layer until the first frame.
  if (cache.palette.drawsPattern) DrawPattern(layer.graphics, cache.pixels + PixelCount());
  DrawLogo(layer.graphics, cache.layout.logo);
  // Deleting the graphics completes its drawing.
  Release(layer);
}

// For a new size, DPI or theme: the static layer drawn again, and every
// text laid out again in the next frame.
void RenewCache(int width, int height, int dpi) {
  std::free(cache.pixels);
  cache.width = width;
  cache.height = height;
  cache.dpi = dpi;
  cache.palette = ReadPalette();
  cache.layout = LayoutSplash(width, dpi);
  cache.headline.text = cache.progress.text = cache.hint.text = cache.link.text = nullptr;
  // Zeroed: a fresh bitmap starts fully transparent.
  cache.pixels = static_cast<std::uint32_t*>(std::calloc(2 * PixelCount(), sizeof(std::uint32_t)));
  if (cache.pixels != nullptr) DrawStaticLayer();
  // The layer holds the images now: they are decoded again only for the next one.
  ReleaseSplashImage(splashLook.tileImage);
  ReleaseSplashImage(splashLook.logoImage);
}

// Composes the whole frame off-screen, the static layer and the texts, and
// draws it onto the window in one operation, so a repaint never flickers.
void DrawSplash() {
  RECT bounds{};
  GetWindowRect(SetupWindow(), &bounds);
  const int width = bounds.right - bounds.left;
  const int height = bounds.bottom - bounds.top;
  const int dpi = setupGlobals.dpi.load(std::memory_order_acquire);
  // Pixels that could not be had are asked for again at each frame.
  if (cache.width != width || cache.height != height || cache.dpi != dpi || !cache.pixels)
    RenewCache(width, height, dpi);
  if (cache.pixels == nullptr) return;
  std::uint32_t* framePixels = cache.pixels + PixelCount();
  std::memcpy(framePixels, cache.pixels, PixelCount() * sizeof(std::uint32_t));
  const Canvas frame = CanvasOver(framePixels);
  ApplyQualitySettings(frame.graphics);
  DrawTexts(frame.graphics, cache.layout);
  gdiplus.GdipFlush(frame.graphics, kFlushIntentionFlush);
  DrawOnWindow(frame.bitmap);
  Release(frame);
}

}  // namespace

// BeginPaint validates the window before the frame reads any shared text: a
// text the worker replaces from then on invalidates the window again, and
// that repaint follows this one. Validating after composing would swallow
// the worker's request and leave the old text on screen for good.
void PaintSplash(HWND hwnd) {
  PAINTSTRUCT paint;
  BeginPaint(hwnd, &paint);
  if (GdiplusLoaded()) DrawSplash();
  EndPaint(hwnd, &paint);
}

void ForgetSplashTheme() { cache.dpi = -1; }

bool SplashLinkAt(int x, int y) {
  return cache.link.text != nullptr && LinkHolds(cache.layout.link, cache.link.fitted, x, y);
}
