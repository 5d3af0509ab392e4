#include "shell/setup_window_proc_win.h"

#include "base/system_functions_win.h"
#include "base/system_text_win.h"
#include "download/run_ping_win.h"
#include "shell/earlier_setup_win.h"
#include "shell/setup_window_win.h"
#include "shell/shell_globals.h"
#include "shell/taskbar_button_win.h"
#include "splash/accessible_splash_win.h"
#include "splash/fallback_link_win.h"
#include "splash/splash_painter_win.h"
#include "state/setup_state.h"

namespace {

// A thread being terminated is gone within moments; the bound only keeps a
// close from hanging should the system never report it.
constexpr DWORD kWorkerEndWaitMs = 5000;

// Whether the watchdog gave the worker up: the worker may then stand
// anywhere, inside WinINet or holding one of its locks. The window thread's.
bool workerGaveUp = false;

void EndThread(HANDLE thread) {
  if (thread == nullptr || thread == INVALID_HANDLE_VALUE) return;
  TerminateThread(thread, 0);
  // TerminateThread only starts the end of the thread. Waiting for it makes
  // sure no step of it slips in after.
  WaitForSingleObject(thread, kWorkerEndWaitMs);
}

// Ends the setup at once. The watchdog goes first, so it cannot take the
// download over meanwhile; then the worker, wherever it stands. A thread
// ended so may have held a lock of the heap, the file system or WinINet,
// which nothing after it may wait for: no window is destroyed, no file
// deleted, no exit handler run. The process ends here, its handles with it,
// and the next run removes the file the worker was writing. The cancel's
// ping starts first, while every lock can still be had, and reads the report
// once the worker is gone; the window hides while it goes, for 3 s at most.
[[noreturn]] void EndSetupAtOnce() {
  SendRunPing(RunEnd::kCancelled, false);
  EndThread(setupGlobals.watchdogThread.load(std::memory_order_acquire));
  EndThread(shellGlobals.workerThread.load(std::memory_order_acquire));
  FinishRunReport();
  ShowWindow(SetupWindow(), SW_HIDE);
  AwaitRunPing();
  TerminateProcess(kThisProcess, 0);
  __builtin_unreachable();
}

// Asked with the wide-character function, so a question in any script shows.
// The taskbar button pauses while it waits, and goes on only with the setup.
bool UserConfirmsCancel(HWND hwnd) {
  ShowCancelQuestionOnTaskbar(hwnd, true);
  const bool yes =
      MessageBoxW(hwnd, SystemText(shellGlobals.cancelQuestion.load(std::memory_order_acquire)),
                  SystemText(shellGlobals.cancelTitle.load(std::memory_order_acquire)),
                  MB_YESNOCANCEL | MB_ICONWARNING) == IDYES;
  if (!yes) ShowCancelQuestionOnTaskbar(hwnd, false);
  return yes;
}

// Once the run has ended (done or failed) closing asks nothing. Before, only
// a Yes closes, and the setup ends at once, so none of the worker's later
// steps (installer start, launch, failure texts) takes effect; so does a
// close after the watchdog gave the worker up. The worker's own close
// arrives while it waits inside SendMessageA: ending it there releases it
// without side effects, and the window goes as usual.
void HandleClose(HWND hwnd) {
  const bool atWork = setupGlobals.workerFinished.load(std::memory_order_acquire) == 0;
  if (atWork && !UserConfirmsCancel(hwnd)) return;
  CancelSetup();
  if (atWork || workerGaveUp) EndSetupAtOnce();
  EndThread(shellGlobals.workerThread.load(std::memory_order_acquire));
  DestroyWindow(hwnd);
}

// The size comes from the system's suggestion for the new DPI; the splash
// lays itself out again from `dpi` on the next paint.
void HandleDpiChange(HWND hwnd, WPARAM wParam, LPARAM lParam) {
  setupGlobals.dpi.store(LOWORD(wParam), std::memory_order_release);
  const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
  SetWindowPos(hwnd, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
               suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
  RequestRepaint();
}

// Whether the screen point of a hit test (two signed 16-bit coordinates)
// lies on the link. The borderless window's client area is the whole window.
bool LinkAt(HWND hwnd, LPARAM lParam) {
  // Filled by the call: the window is this thread's own.
  RECT bounds;
  GetWindowRect(hwnd, &bounds);
  return SplashLinkAt(static_cast<short>(LOWORD(lParam)) - bounds.left,
                      static_cast<short>(HIWORD(lParam)) - bounds.top);
}

// Every point of the client area acts as a caption, so a press anywhere
// drags; but the fallback page's link, once drawn, is client area, pressed.
LRESULT HitTest(HWND hwnd, WPARAM wParam, LPARAM lParam) {
  const LRESULT hit = DefWindowProcA(hwnd, WM_NCHITTEST, wParam, lParam);
  return hit == HTCLIENT && !LinkAt(hwnd, lParam) ? HTCAPTION : hit;
}

}  // namespace

void EndRun() {
  setupGlobals.workerFinished.store(1, std::memory_order_release);
  ShowFailureTexts();
  EndSetupInProgress();
}

void GiveUpWorker() {
  workerGaveUp = true;
  setupGlobals.failureClass.store(FailureClass::kStall, std::memory_order_release);
  setupGlobals.state.store(Failed, std::memory_order_release);
  EndRun();
  SendRunPing(RunEnd::kTakenOver);
}

LRESULT CALLBACK SetupWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DESTROY:
      ClearTaskbarButton(hwnd);
      PostQuitMessage(0);
      return 0;
    case WM_PAINT:
      if (hwnd == SetupWindow()) {
        PaintSplash(hwnd);
        // Told once painted: a screen reader that reads on finds it on screen.
        AnnounceTextChanges(hwnd);
      }
      return 0;
    case WM_CLOSE:
      HandleClose(hwnd);
      return 0;
    case WM_ERASEBKGND:
      // The painter covers the whole window.
      return 1;
    case WM_NCHITTEST:
      return HitTest(hwnd, wParam, lParam);
    case WM_LBUTTONUP:
      // The link is the only client area: the button went up on it. (One
      // pressed elsewhere on the splash dragged it, and went up there.)
      OpenFallbackPage();
      return 0;
    case WM_KEYDOWN:
      // Enter or Space opens the link while it is there; a key held down,
      // once. The default procedure does nothing with either.
      if ((wParam == VK_RETURN || wParam == VK_SPACE) && (lParam & (1 << 30)) == 0)
        OpenFallbackPage();
      break;
    case kOpenFallbackPageMessage:
      OpenFallbackPage();
      return 0;
    case WM_DPICHANGED:
      HandleDpiChange(hwnd, wParam, lParam);
      return 0;
    case WM_SETTINGCHANGE:
    case WM_SYSCOLORCHANGE:
      // A high-contrast theme turned on or off, or other system colours.
      ForgetSplashTheme();
      RequestRepaint();
      return 0;
    case kWorkerGaveUpMessage:
      GiveUpWorker();
      return 0;
    case WM_GETOBJECT:
      if (const LRESULT answer = AnswerAccessibleObjectRequest(hwnd, wParam, lParam)) return answer;
      break;
    default:
      if (AnswerTaskbarMessage(hwnd, message)) return 0;
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}
