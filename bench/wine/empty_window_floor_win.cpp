// The floor of start-up: what any program pays to start GDI+ and show an empty
// 400 x 500 popup window, centred like the setup window.
#include <windows.h>

#include "shell/window_placement.h"

namespace {

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
  windowClass.lpszClassName = L"ZorvaFloorWindow";
  RegisterClassW(&windowClass);
  HWND window = CreateWindowExW(0, L"ZorvaFloorWindow", L"Floor", WS_POPUP, 0, 0,
                                kSetupWindowWidth, kSetupWindowHeight, nullptr, nullptr, instance,
                                nullptr);
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
