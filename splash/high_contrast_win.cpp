#include "splash/high_contrast_win.h"

#include <windows.h>

bool HighContrastOn() {
  HIGHCONTRASTW settings{sizeof settings, 0, nullptr};
  return SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof settings, &settings, 0) &&
         (settings.dwFlags & HCF_HIGHCONTRASTON) != 0;
}
