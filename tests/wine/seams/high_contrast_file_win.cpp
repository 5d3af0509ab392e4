// The theme question of the test build that stands for a Windows with a
// high-contrast theme, which Wine never reports: the theme is on while the
// file named by ZORVA_HIGH_CONTRAST_FILE exists, so a test can turn it on
// and off while the splash runs. Linked ahead of the edge library, so the
// program's own HighContrastOn is not.
#include <windows.h>

#include "splash/high_contrast_win.h"

bool HighContrastOn() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetEnvironmentVariableW(L"ZORVA_HIGH_CONTRAST_FILE", path, MAX_PATH);
  return length > 0 && length < MAX_PATH && GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}
