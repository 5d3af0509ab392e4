#include "splash/splash_painter_win.h"

#include "base/system_text_win.h"
#include "splash/accessible_splash.h"
#include "splash/gdiplus_flat_win.h"
#include "splash/shared_text_win.h"
#include "splash/splash_image_win.h"
#include "splash/splash_layout.h"
#include "splash/splash_look.h"
#include "state/setup_state.h"

namespace {

constexpr wchar_t kFontFamily[] = L"Arial";

GpImage* CreateArgbBitmap(int width, int height) {
  GpImage* bitmap = nullptr;
  gdiplus.GdipCreateBitmapFromScan0(width, height, 0, kPixelFormat32bppARGB, nullptr, &bitmap);
  return bitmap;
}

GpGraphics* GraphicsOf(GpImage* image) {
  GpGraphics* graphics = nullptr;
  gdiplus.GdipGetImageGraphicsContext(image, &graphics);
  return graphics;
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

void FillBackground(GpGraphics* frameGraphics, GpImage* frame) {
  GpBrush* background = SolidBrush(splashLook.backgroundColor);
  UINT height = 0;
  UINT width = 0;
  gdiplus.GdipGetImageHeight(frame, &height);
  gdiplus.GdipGetImageWidth(frame, &width);
  gdiplus.GdipFillRectangleI(frameGraphics, background, 0, 0, width, height);
  gdiplus.GdipDeleteBrush(background);
}

// The tiles go into a layer of their own, turned as a whole, which is then
// laid over the background with source-over blending.
void DrawPattern(GpGraphics* frameGraphics, int width, int height) {
  GpImage* layer = CreateArgbBitmap(width, height);
  GpGraphics* layerGraphics = GraphicsOf(layer);
  gdiplus.GdipRotateWorldTransform(layerGraphics, kPatternAngleDegrees, kMatrixOrderPrepend);
  UINT layerHeight = 0;
  UINT layerWidth = 0;
  gdiplus.GdipGetImageHeight(layer, &layerHeight);
  gdiplus.GdipGetImageWidth(layer, &layerWidth);
  const TileGrid grid = PatternTileGrid(layerWidth, layerHeight);
  GpImage* tile = NativeImage(splashLook.tileImage.load(std::memory_order_acquire));
  for (int row = 0; row < grid.rows; ++row) {
    for (int column = 0; column < grid.columns; ++column) {
      gdiplus.GdipDrawImageRectI(layerGraphics, tile, grid.firstX + column * grid.stepX,
                                 grid.firstY + row * grid.stepY, grid.tileWidth, grid.tileHeight);
    }
  }
  gdiplus.GdipResetWorldTransform(layerGraphics);
  gdiplus.GdipDrawImageI(frameGraphics, layer, 0, 0);
  gdiplus.GdipDeleteGraphics(layerGraphics);
  gdiplus.GdipDisposeImage(layer);
}

void DrawLogo(GpGraphics* frameGraphics, const PixelRect& logo) {
  GpImage* image = NativeImage(splashLook.logoImage.load(std::memory_order_acquire));
  gdiplus.GdipDrawImageRectI(frameGraphics, image, logo.left, logo.top, logo.width, logo.height);
}

struct TextTools {
  GpGraphics* graphics;
  GpFontFamily* family;
  GpStringFormat* format;
};

GpFont* PixelFont(const TextTools& tools, int pixels) {
  GpFont* font = nullptr;
  gdiplus.GdipCreateFont(tools.family, static_cast<float>(pixels), kFontStyleRegular, kUnitPixel,
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
                    GpBrush* brush) {
  gdiplus.GdipSetStringFormatFlags(
      tools.format, ReadsRightToLeft(text) ? kStringFormatFlagsDirectionRightToLeft : 0);
  const FittedText fitted = FitText(text, placement, TextMeasure{LineWidth, &tools});
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

void DrawTexts(GpGraphics* frameGraphics, const SplashLayout& layout) {
  TextTools tools{frameGraphics, nullptr, nullptr};
  gdiplus.GdipCreateFontFamilyFromName(kFontFamily, nullptr, &tools.family);
  gdiplus.GdipCreateStringFormat(0, LANG_NEUTRAL, &tools.format);
  gdiplus.GdipSetStringFormatLineAlign(tools.format, kStringAlignmentCenter);
  gdiplus.GdipSetStringFormatAlign(tools.format, kStringAlignmentCenter);
  GpBrush* textBrush = SolidBrush(splashLook.textColor);
  // Each pointer is read once, as its text is drawn.
  DrawFittedText(tools, ReadSharedText(setupGlobals.headline), layout.headline, textBrush);
  DrawFittedText(tools, ReadSharedText(setupGlobals.progressText), layout.progress, textBrush);
  GpBrush* hintBrush = SolidBrush(splashLook.hintColor);
  DrawFittedText(tools, setupGlobals.hint.load(std::memory_order_acquire), layout.hint, hintBrush);
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

// Composes the whole frame off-screen and draws it onto the window in one
// operation, so a repaint never flickers.
void DrawSplash() {
  RECT bounds{};
  GetWindowRect(SetupWindow(), &bounds);
  const int width = bounds.right - bounds.left;
  const int height = bounds.bottom - bounds.top;
  GpImage* frame = CreateArgbBitmap(width, height);
  GpGraphics* frameGraphics = GraphicsOf(frame);
  ApplyQualitySettings(frameGraphics);
  FillBackground(frameGraphics, frame);
  DrawPattern(frameGraphics, width, height);
  const SplashLayout layout = LayoutSplash(width, setupGlobals.dpi.load(std::memory_order_acquire));
  DrawLogo(frameGraphics, layout.logo);
  DrawTexts(frameGraphics, layout);
  gdiplus.GdipFlush(frameGraphics, kFlushIntentionFlush);
  DrawOnWindow(frame);
  gdiplus.GdipDeleteGraphics(frameGraphics);
  gdiplus.GdipDisposeImage(frame);
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
