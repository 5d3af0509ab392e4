// Times PaintSplash on a real window against a floor that only fills a bitmap
// of the same size and blits it. Prints milliseconds per frame of each.
// Usage: paint_bench DPI
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "resources/splash_artwork.h"
#include "shell/setup_window_win.h"
#include "shell/window_placement.h"
#include "splash/gdiplus_flat_win.h"
#include "splash/splash_image_win.h"
#include "splash/splash_layout.h"
#include "splash/splash_look.h"
#include "state/setup_state.h"

namespace {

constexpr int kFrames = 200;

void FloorPaint(HWND window) {
  RECT rect;
  GetWindowRect(window, &rect);
  GpImage* frame = nullptr;
  gdiplus.GdipCreateBitmapFromScan0(rect.right - rect.left, rect.bottom - rect.top, 0,
                                    kPixelFormat32bppARGB, nullptr, &frame);
  GpGraphics* frameGraphics = nullptr;
  gdiplus.GdipGetImageGraphicsContext(frame, &frameGraphics);
  GpBrush* brush = nullptr;
  gdiplus.GdipCreateSolidFill(0xFF242424, &brush);
  gdiplus.GdipFillRectangleI(frameGraphics, brush, 0, 0, rect.right - rect.left, rect.bottom - rect.top);
  gdiplus.GdipDeleteBrush(brush);
  PAINTSTRUCT paint;
  BeginPaint(window, &paint);
  GpGraphics* windowGraphics = nullptr;
  gdiplus.GdipCreateFromHWND(window, &windowGraphics);
  gdiplus.GdipDrawImageI(windowGraphics, frame, 0, 0);
  EndPaint(window, &paint);
  gdiplus.GdipDeleteGraphics(windowGraphics);
  gdiplus.GdipDeleteGraphics(frameGraphics);
  gdiplus.GdipDisposeImage(frame);
}

LRESULT CALLBACK FloorWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_PAINT) {
    FloorPaint(window);
    return 0;
  }
  if (message == WM_ERASEBKGND) return 1;
  return DefWindowProcW(window, message, wParam, lParam);
}

HWND CreateFloorWindow(HINSTANCE instance) {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = FloorWindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = L"ZorvaPaintFloorWindow";
  RegisterClassW(&windowClass);
  return CreateWindowExW(0, windowClass.lpszClassName, L"Floor", WS_POPUP, 0, 0,
                         kSetupWindowWidth, kSetupWindowHeight, nullptr, nullptr, instance,
                         nullptr);
}

void ShowAtSize(HWND window, int dpi) {
  SetWindowPos(window, nullptr, 0, 0, ScaleToDpi(kSetupWindowWidth, dpi),
               ScaleToDpi(kSetupWindowHeight, dpi), 0);
  ShowWindow(window, SW_SHOW);
  UpdateWindow(window);
}

double MillisecondsPerFrame(HWND window) {
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  for (int i = 0; i < kFrames; ++i) {
    InvalidateRect(window, nullptr, FALSE);
    UpdateWindow(window);  // paints now, through the window procedure
  }
  QueryPerformanceCounter(&end);
  return 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
         static_cast<double>(frequency.QuadPart) / kFrames;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    fwprintf(stderr, L"usage: paint_bench DPI\n");
    return 2;
  }
  const int dpi = _wtoi(argv[1]);
  if (!LoadGdiplus()) return 1;
  const GdiplusStartupInput input{1, nullptr, FALSE, FALSE};
  ULONG_PTR token = 0;
  gdiplus.GdiplusStartup(&token, &input, nullptr);
  HINSTANCE instance = GetModuleHandleW(nullptr);

  HWND splash = CreateSetupWindow(instance);
  setupGlobals.window.store(splash);
  setupGlobals.dpi.store(dpi);
  splashLook.tileImage.store(LoadEmbeddedImage(kPatternTilePng));
  splashLook.logoImage.store(LoadEmbeddedImage(kLogoPng));
  ShowAtSize(splash, dpi);
  const double splashFrame = MillisecondsPerFrame(splash);
  ShowWindow(splash, SW_HIDE);

  HWND floor = CreateFloorWindow(instance);
  ShowAtSize(floor, dpi);
  const double floorFrame = MillisecondsPerFrame(floor);

  wprintf(L"splash: %.3f\nfloor: %.3f\n", splashFrame, floorFrame);
  return 0;
}
