// The floor of start-up: what any program pays to start GDI+ and show an empty
// 400 x 500 popup window, centred like the setup window. Built twice: as the
// empty-window program, the floor of the working set; and with
// ZORVA_FLOOR_DECODES_IMAGES as the floor of start-up to the visible splash,
// which also does the image work any program with the splash's look does
// before its window shows: GDI+ loaded with the image codecs' libraries, as
// the program loads it, the 32-pixel image of the program's icon (a PNG)
// for the window's class, and the two splash PNGs decoded. Under Wine each
// PNG is decoded by the image codecs (windowscodecs), which that loads.
#include <windows.h>

#include "shell/window_placement.h"

#ifdef ZORVA_FLOOR_DECODES_IMAGES
#include "resources/splash_artwork.h"
#include "splash/gdiplus_flat_win.h"
#include "splash/splash_image_win.h"
#endif

namespace {

#ifdef ZORVA_FLOOR_DECODES_IMAGES
// The program's icon group, linked in with the program's resources.
constexpr int kIconResource = 102;

void StartGdiplus() {
  if (!LoadGdiplus()) return;
  const GdiplusStartupInput input{1, nullptr, FALSE, FALSE};
  ULONG_PTR token = 0;
  gdiplus.GdiplusStartup(&token, &input, nullptr);
}

void DecodeImages() {
  LoadEmbeddedImage(kPatternTilePng);
  LoadEmbeddedImage(kLogoPng);
}

HICON ClassIcon(HINSTANCE instance) { return LoadIconW(instance, MAKEINTRESOURCEW(kIconResource)); }
#else
struct GdiplusStartupInput {
  UINT32 GdiplusVersion;
  void* DebugEventCallback;
  BOOL SuppressBackgroundThread;
  BOOL SuppressExternalCodecs;
};
using GdiplusStartupFunction = int(WINAPI*)(ULONG_PTR*, const GdiplusStartupInput*, void*);

void StartGdiplus() {
  HMODULE gdiplus = LoadLibraryExW(L"gdiplus.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  auto startup = reinterpret_cast<GdiplusStartupFunction>(
      reinterpret_cast<void*>(GetProcAddress(gdiplus, "GdiplusStartup")));
  ULONG_PTR token = 0;
  GdiplusStartupInput input{1, nullptr, FALSE, FALSE};
  if (startup) startup(&token, &input, nullptr);
}

void DecodeImages() {}

HICON ClassIcon(HINSTANCE) { return nullptr; }
#endif

LRESULT CALLBACK FloorWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  StartGdiplus();
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = FloorWindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = ClassIcon(instance);
  windowClass.lpszClassName = L"ZorvaFloorWindow";
  RegisterClassW(&windowClass);
  HWND window = CreateWindowExW(0, L"ZorvaFloorWindow", L"Floor", WS_POPUP, 0, 0,
                                kSetupWindowWidth, kSetupWindowHeight, nullptr, nullptr, instance,
                                nullptr);
  DecodeImages();
  HDC screen = GetDC(window);
  SetWindowPos(window, nullptr, GetDeviceCaps(screen, HORZRES) / 2 - kSetupWindowWidth / 2,
               GetDeviceCaps(screen, VERTRES) / 2 - kSetupWindowHeight / 2, kSetupWindowWidth,
               kSetupWindowHeight, 0);
  ReleaseDC(window, screen);
  ShowWindow(window, showCommand);
  MSG message{};
  while (GetMessageW(&message, nullptr, 0, 0)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}
