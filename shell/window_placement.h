// Size and position of the setup window for a DPI: 400 x 500 device-
// independent pixels, centred on the full screen (the taskbar is not taken
// into account). Portable arithmetic.
#pragma once

// The setup window's size in device-independent pixels.
inline constexpr int kSetupWindowWidth = 400;
inline constexpr int kSetupWindowHeight = 500;

struct WindowPlacement {
  int x;
  int y;
  int width;
  int height;
};

WindowPlacement CentreSetupWindow(int screenWidth, int screenHeight, int dpi);
