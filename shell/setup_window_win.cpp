#include "shell/setup_window_win.h"

#include "base/system_functions_win.h"
#include "base/system_library_win.h"
#include "download/run_ping_win.h"
#include "shell/earlier_setup_win.h"
#include "shell/setup_window_proc_win.h"
#include "shell/shell_globals.h"
#include "shell/window_placement.h"
#include "state/setup_state.h"

namespace {

constexpr int kIconResource = 102;

int ScreenLogicalDpi(HWND window) {
  HDC dc = GetDC(window);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSX);
  ReleaseDC(window, dc);
  return dpi;
}

}  // namespace

void LookUpDpiFunctions() {
  LookUpSystemFunctions(SystemModule::kUser32, GetModuleHandleW(L"user32.dll"));
  LookUpSystemFunctions(SystemModule::kShcore, GetModuleHandleW(L"shcore.dll"));
}

HWND CreateSetupWindow(HINSTANCE instance) {
  // user32 loads the theme library by bare name for the first window, which
  // looks in the exe's folder where Windows 7 cannot restrict the search.
  PreloadSystemLibraries({u"uxtheme.dll"});
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = SetupWindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(kIconResource));
  windowClass.lpszClassName = kWindowClass;
  // A failed registration shows up as a failed creation.
  RegisterClassA(&windowClass);
  return CreateWindowExA(0, kWindowClass, kWindowTitle, WS_POPUP, 0, 0, kSetupWindowWidth,
                         kSetupWindowHeight, nullptr, nullptr, instance, nullptr);
}

int QueryWindowDpi() {
  HWND window = SetupWindow();
  if (systemFunctions.GetDpiForWindow != nullptr)
    return static_cast<int>(systemFunctions.GetDpiForWindow(window));
  if (systemFunctions.GetDpiForMonitor != nullptr) {
    // Both out-pointers share one variable: only the horizontal DPI is used.
    UINT dpi = 0;
    if (systemFunctions.GetDpiForMonitor(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST),
                                         MDT_EFFECTIVE_DPI, &dpi, &dpi) == S_OK) {
      return static_cast<int>(dpi);
    }
  }
  return ScreenLogicalDpi(window);
}

void PlaceSetupWindow(HWND window, int dpi) {
  HDC dc = GetDC(window);
  const WindowPlacement placement =
      CentreSetupWindow(GetDeviceCaps(dc, HORZRES), GetDeviceCaps(dc, VERTRES), dpi);
  SetWindowPos(window, nullptr, placement.x, placement.y, placement.width, placement.height, 0);
  ReleaseDC(window, dc);
}

namespace {

// The worker's thread. Its end, unless the watchdog gave the download up (the
// window thread then ends the run): no setup is at work here any more.
DWORD WINAPI RunWorker(LPVOID inputs) {
  if (DownloadWorker(*static_cast<const WorkerInputs*>(inputs))) EndSetupInProgress();
  return 0;
}

}  // namespace

void StartWorker(const WorkerInputs& inputs) {
  HANDLE worker = CreateWorkerThread(RunWorker, const_cast<WorkerInputs*>(&inputs));
  if (worker == nullptr) {
    // No download can begin: the run fails as a download would, and a later
    // start, finding no setup at work, closes this window and runs.
    setupGlobals.failureClass.store(FailureClass::kOther, std::memory_order_release);
    setupGlobals.state.store(Failed, std::memory_order_release);
    EndRun();
    SendRunPing(RunEnd::kEnded);
    return;
  }
  shellGlobals.workerThread.store(worker, std::memory_order_release);
}
