#include "splash/fallback_link_win.h"

#include <windows.h>

#include "base/system_functions_win.h"
#include "base/system_text_win.h"
#include "splash/fallback_link.h"
#include "state/setup_state.h"

void OpenFallbackPage() {
  char16_t page[kFallbackPageCapacity];
  if (!FallbackPageToOpen(page) || !LookUpShell()) return;
  // The window's thread is in COM's single-threaded apartment, which a
  // browser's handler may want, once the shell has made the taskbar button
  // (or a screen reader asked for the splash's object); without, the shell
  // still opens the page through the browser's command line. What the
  // browser shows is the person's to see: the result is not needed.
  systemFunctions.ShellExecuteW(SetupWindow(), L"open", SystemText(page), nullptr, nullptr,
                                SW_SHOWNORMAL);
}
