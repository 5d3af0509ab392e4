#include "shell/setup_window_proc_win.h"

#include "base/system_text_win.h"
#include "shell/setup_window_win.h"
#include "shell/shell_globals.h"
#include "splash/accessible_splash_win.h"
#include "splash/splash_painter_win.h"
#include "state/setup_state.h"

namespace {

// A thread being terminated is gone within moments; the bound only keeps a
// close from hanging should the system never report it.
constexpr DWORD kWorkerEndWaitMs = 5000;

// Asked with the wide-character function, so a question in any script shows.
bool UserConfirmsCancel(HWND hwnd) {
  return MessageBoxW(hwnd, SystemText(shellGlobals.cancelQuestion.load(std::memory_order_acquire)),
                     SystemText(shellGlobals.cancelTitle.load(std::memory_order_acquire)),
                     MB_YESNOCANCEL | MB_ICONWARNING) == IDYES;
}

// Once the worker has finished (done or failed) closing asks nothing. Before,
// only a Yes closes; the worker is then ended wherever it stands, so none of
// its later steps (installer start, launch, failure texts) takes effect. The
// worker's own close arrives while it waits inside SendMessageA: ending it
// there releases it without side effects.
void HandleClose(HWND hwnd) {
  if (setupGlobals.workerFinished.load(std::memory_order_acquire) == 0 &&
      !UserConfirmsCancel(hwnd)) {
    return;
  }
  CancelSetup();
  HANDLE worker = shellGlobals.workerThread.load(std::memory_order_acquire);
  if (worker != INVALID_HANDLE_VALUE) {
    TerminateThread(worker, 0);
    // TerminateThread only starts the end of the thread. Waiting for it makes
    // sure no step of the worker (a finished download moving on to the
    // installer start, say) slips in between the user's Yes and the exit.
    WaitForSingleObject(worker, kWorkerEndWaitMs);
  }
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

// Every point of the client area acts as a caption: a press anywhere drags.
LRESULT HitTest(HWND hwnd, WPARAM wParam, LPARAM lParam) {
  const LRESULT hit = DefWindowProcA(hwnd, WM_NCHITTEST, wParam, lParam);
  return hit == HTCLIENT ? HTCAPTION : hit;
}

}  // namespace

LRESULT CALLBACK SetupWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DESTROY:
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
    case WM_DPICHANGED:
      HandleDpiChange(hwnd, wParam, lParam);
      return 0;
    case WM_GETOBJECT:
      if (const LRESULT answer = AnswerAccessibleObjectRequest(hwnd, wParam, lParam)) return answer;
      break;
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}
