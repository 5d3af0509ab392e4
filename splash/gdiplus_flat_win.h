// The part of the GDI+ flat interface the splash uses, resolved at run time
// from the system folder's gdiplus.dll. GDI+ is not one of the DLLs Windows
// always takes from the system folder, so importing it at load time would let
// a gdiplus.dll planted beside the exe (in Downloads) be loaded instead.
#pragma once

#include <windows.h>

#include <cstddef>

struct IStream;

// Opaque GDI+ objects; a bitmap is an image.
struct GpImage;
struct GpGraphics;
struct GpBrush;
struct GpFontFamily;
struct GpFontCollection;
struct GpFont;
struct GpStringFormat;

using GpStatus = int;

struct GdiplusStartupInput {
  UINT32 GdiplusVersion;
  void* DebugEventCallback;
  BOOL SuppressBackgroundThread;
  BOOL SuppressExternalCodecs;
};

struct GdiplusRectF {
  float X;
  float Y;
  float Width;
  float Height;
};

inline constexpr int kPixelFormat32bppARGB = 0x0026200A;
inline constexpr int kInterpolationModeHighQualityBilinear = 6;
inline constexpr int kTextRenderingHintClearTypeGridFit = 5;
inline constexpr int kSmoothingModeHighQuality = 2;
inline constexpr int kPixelOffsetModeHighQuality = 2;
inline constexpr int kMatrixOrderPrepend = 0;
inline constexpr int kStringAlignmentCenter = 1;
inline constexpr int kFontStyleRegular = 0;
inline constexpr int kFontStyleUnderline = 4;
inline constexpr int kUnitPixel = 2;
inline constexpr int kFlushIntentionFlush = 0;
inline constexpr int kStringFormatFlagsDirectionRightToLeft = 0x0001;

// name, result, parameters
#define ZORVA_GDIPLUS_FUNCTIONS(X)                                                              \
  X(GdiplusStartup, GpStatus, (ULONG_PTR * token, const GdiplusStartupInput* input, void* output)) \
  X(GdipAlloc, void*, (std::size_t size))                                                        \
  X(GdipLoadImageFromStream, GpStatus, (IStream * stream, GpImage** image))                      \
  X(GdipCreateBitmapFromScan0, GpStatus,                                                         \
    (INT width, INT height, INT stride, INT format, BYTE* scan0, GpImage** bitmap))              \
  X(GdipGetImageGraphicsContext, GpStatus, (GpImage * image, GpGraphics** graphics))             \
  X(GdipCreateFromHWND, GpStatus, (HWND window, GpGraphics** graphics))                          \
  X(GdipSetInterpolationMode, GpStatus, (GpGraphics * graphics, INT mode))                       \
  X(GdipSetTextRenderingHint, GpStatus, (GpGraphics * graphics, INT hint))                       \
  X(GdipSetSmoothingMode, GpStatus, (GpGraphics * graphics, INT mode))                           \
  X(GdipSetPixelOffsetMode, GpStatus, (GpGraphics * graphics, INT mode))                         \
  X(GdipCreateSolidFill, GpStatus, (UINT32 argb, GpBrush** brush))                               \
  X(GdipFillRectangleI, GpStatus,                                                                \
    (GpGraphics * graphics, GpBrush* brush, INT x, INT y, INT width, INT height))                \
  X(GdipRotateWorldTransform, GpStatus, (GpGraphics * graphics, float angle, INT order))         \
  X(GdipResetWorldTransform, GpStatus, (GpGraphics * graphics))                                  \
  X(GdipDrawImageI, GpStatus, (GpGraphics * graphics, GpImage* image, INT x, INT y))             \
  X(GdipDrawImageRectI, GpStatus,                                                                \
    (GpGraphics * graphics, GpImage* image, INT x, INT y, INT width, INT height))                \
  X(GdipCreateFontFamilyFromName, GpStatus,                                                      \
    (const WCHAR* name, GpFontCollection* collection, GpFontFamily** family))                    \
  X(GdipCreateStringFormat, GpStatus, (INT flags, LANGID language, GpStringFormat** format))     \
  X(GdipSetStringFormatLineAlign, GpStatus, (GpStringFormat * format, INT align))                \
  X(GdipSetStringFormatAlign, GpStatus, (GpStringFormat * format, INT align))                    \
  X(GdipSetStringFormatFlags, GpStatus, (GpStringFormat * format, INT flags))                    \
  X(GdipCreateFont, GpStatus,                                                                    \
    (const GpFontFamily* family, float size, INT style, INT unit, GpFont** font))                \
  X(GdipDrawString, GpStatus,                                                                    \
    (GpGraphics * graphics, const WCHAR* text, INT length, const GpFont* font,                   \
     const GdiplusRectF* layout, const GpStringFormat* format, const GpBrush* brush))            \
  X(GdipMeasureString, GpStatus,                                                                 \
    (GpGraphics * graphics, const WCHAR* text, INT length, const GpFont* font,                   \
     const GdiplusRectF* layout, const GpStringFormat* format, GdiplusRectF* bounds,             \
     INT* codepointsFitted, INT* linesFilled))                                                   \
  X(GdipFlush, GpStatus, (GpGraphics * graphics, INT intention))                                 \
  X(GdipDeleteFont, GpStatus, (GpFont * font))                                                   \
  X(GdipDeleteBrush, GpStatus, (GpBrush * brush))                                                \
  X(GdipDeleteStringFormat, GpStatus, (GpStringFormat * format))                                 \
  X(GdipDeleteFontFamily, GpStatus, (GpFontFamily * family))                                     \
  X(GdipDeleteGraphics, GpStatus, (GpGraphics * graphics))                                       \
  X(GdipDisposeImage, GpStatus, (GpImage * image))

struct GdiplusFunctions {
#define ZORVA_GDIPLUS_POINTER(name, result, parameters) result(WINAPI* name) parameters;
  ZORVA_GDIPLUS_FUNCTIONS(ZORVA_GDIPLUS_POINTER)
#undef ZORVA_GDIPLUS_POINTER
};

// Filled by LoadGdiplus; every pointer is set, or none is usable.
extern GdiplusFunctions gdiplus;

// Loads gdiplus.dll from the system folder, once, and resolves every function
// above. False when the DLL or any function is missing; the splash then draws
// nothing and its images stay unloaded.
bool LoadGdiplus();

// Whether LoadGdiplus succeeded.
bool GdiplusLoaded();
