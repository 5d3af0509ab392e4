#include "shell/window_placement.h"

#include "splash/splash_layout.h"

WindowPlacement CentreSetupWindow(int screenWidth, int screenHeight, int dpi) {
  const int width = ScaleToDpi(kSetupWindowWidth, dpi);
  const int height = ScaleToDpi(kSetupWindowHeight, dpi);
  // Each half is truncated on its own: at 120 DPI a 625-pixel window moves up
  // by 312, not 312.5.
  return WindowPlacement{screenWidth / 2 - width / 2, screenHeight / 2 - height / 2, width,
                         height};
}
