// Paints the splash through the program's window procedure and painter, the
// way a run meets it, and writes the frames the window shows, read back from
// the window: a first frame at 96 DPI, then at DPI (the window resized to
// it) the progress frame and the failure frame.
//   splash_frame_probe DPI en|de OUT
// Each frame goes to OUT-progress.bgra and OUT-failure.bgra: width and height
// (two little-endian 32-bit numbers), then the rows top down, 4 bytes a
// pixel (blue, green, red, unused). Exit codes: 0 done, 1 usage, 2 GDI+
// missing, 3 a frame could not be read or written.
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "resources/splash_artwork.h"
#include "shell/setup_window_win.h"
#include "shell/window_placement.h"
#include "splash/gdiplus_flat_win.h"
#include "splash/splash_image_win.h"
#include "splash/splash_layout.h"
// The same probe is built in the tree of the painter that drew every layer
// each frame, whose images still sat in the one shared record.
#if __has_include("state/setup_state.h")
#include "splash/splash_look.h"
#include "state/setup_state.h"
#define ZORVA_SPLASH_IMAGES splashLook
#else
#include "shell/setup_globals.h"
#define ZORVA_SPLASH_IMAGES setupGlobals
#endif

namespace {

struct Texts {
  const char16_t* headline;
  const char16_t* hint;
  const char16_t* failure;
};

constexpr Texts kEnglish{kDefaultHeadline, kDefaultHint, u"FAILED TO DOWNLOAD"};
// Longer than the English: the failure headline and the hint's first line wrap.
constexpr Texts kGerman{u"ZORVA WIRD INSTALLIERT",
                        u"BITTE WARTEN SIE, WÄHREND DIE BENÖTIGTEN\r\nDATEIEN HERUNTERGELADEN WERDEN",
                        u"HERUNTERLADEN FEHLGESCHLAGEN"};

void Paint(HWND window) {
  InvalidateRect(window, nullptr, FALSE);
  UpdateWindow(window);
}

void ResizeFor(HWND window, int dpi) {
  setupGlobals.dpi.store(dpi);
  SetWindowPos(window, nullptr, 0, 0, ScaleToDpi(kSetupWindowWidth, dpi),
               ScaleToDpi(kSetupWindowHeight, dpi), SWP_NOZORDER | SWP_NOACTIVATE);
}

bool WriteFrame(HWND window, const wchar_t* path) {
  RECT rect;
  GetWindowRect(window, &rect);
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC windowDc = GetDC(window);
  HDC memoryDc = CreateCompatibleDC(windowDc);
  HBITMAP bitmap = CreateDIBSection(memoryDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memoryDc, bitmap);
  const bool copied = bitmap && BitBlt(memoryDc, 0, 0, width, height, windowDc, 0, 0, SRCCOPY);
  GdiFlush();
  bool written = false;
  if (FILE* out = _wfopen(path, L"wb"); copied && out) {
    const int size[2] = {width, height};
    written = std::fwrite(size, sizeof size, 1, out) == 1 &&
              std::fwrite(bits, 4 * width, height, out) == static_cast<size_t>(height);
    written = std::fclose(out) == 0 && written;
  }
  SelectObject(memoryDc, old);
  DeleteObject(bitmap);
  DeleteDC(memoryDc);
  ReleaseDC(window, windowDc);
  return written;
}

bool WriteFrame(HWND window, const wchar_t* out, const wchar_t* frame) {
  wchar_t path[MAX_PATH];
  swprintf(path, MAX_PATH, L"%ls-%ls.bgra", out, frame);
  return WriteFrame(window, path);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) {
    fwprintf(stderr, L"usage: splash_frame_probe DPI en|de OUT\n");
    return 1;
  }
  const int dpi = _wtoi(argv[1]);
  const Texts& texts = std::wcscmp(argv[2], L"de") == 0 ? kGerman : kEnglish;
  if (!LoadGdiplus()) return 2;
  const GdiplusStartupInput input{1, nullptr, FALSE, FALSE};
  ULONG_PTR token = 0;
  gdiplus.GdiplusStartup(&token, &input, nullptr);

  HWND window = CreateSetupWindow(GetModuleHandleW(nullptr));
  setupGlobals.window.store(window);
  ZORVA_SPLASH_IMAGES.tileImage.store(LoadEmbeddedImage(kPatternTilePng));
  ZORVA_SPLASH_IMAGES.logoImage.store(LoadEmbeddedImage(kLogoPng));
  setupGlobals.headline.store(texts.headline);
  setupGlobals.hint.store(texts.hint);
  setupGlobals.progressText.store(u"0%");
  // A first frame at 96 DPI, so that what the later ones show must follow a
  // change of size and DPI and of the texts.
  ResizeFor(window, 96);
  ShowWindow(window, SW_SHOW);
  Paint(window);

  ResizeFor(window, dpi);
  setupGlobals.progressText.store(u"42%");
  Paint(window);
  if (!WriteFrame(window, argv[3], L"progress")) return 3;
  setupGlobals.headline.store(texts.failure);
  setupGlobals.progressText.store(u":(");
  Paint(window);
  return WriteFrame(window, argv[3], L"failure") ? 0 : 3;
}
