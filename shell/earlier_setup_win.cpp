#include "shell/earlier_setup_win.h"

#include "shell/earlier_setup.h"
#include "shell/setup_window_win.h"
#include "shell/shell_globals.h"
#include "state/setup_state.h"

namespace {

constexpr char kInProgressObject[] = "Local\\ZorvaSetupInProgress";
// A run creates its window within moments of taking the object; a start that
// finds the object held looks for that long, then goes on.
constexpr DWORD kLookStepMs = 100;
constexpr int kLooks = 50;

}  // namespace

bool SettleEarlierSetup() {
  HANDLE object = nullptr;
  for (int look = 1;; ++look) {
    // Made anew at every look: the handle this start holds keeps the object
    // alive, so a run that ended meanwhile shows only to a fresh create. The
    // user's default security: no other user but an administrator can open
    // the object.
    if (object != nullptr) CloseHandle(object);
    object = CreateMutexA(nullptr, FALSE, kInProgressObject);
    const bool taken = object != nullptr && GetLastError() != ERROR_ALREADY_EXISTS;
    // Kept whoever made it; ended with the run's work or its process.
    shellGlobals.inProgressObject.store(object, std::memory_order_release);
    HWND earlier = FindWindowA(kWindowClass, nullptr);
    switch (DecideStartStep(taken, earlier != nullptr, look < kLooks)) {
      case StartStep::kRun:
        return true;
      case StartStep::kCloseEarlierThenRun:
        // It shows the failure texts, so its close asks nothing.
        PostMessageA(earlier, WM_CLOSE, 0, 0);
        return true;
      case StartStep::kBringEarlierForward:
        // This start, the one the user just made, may hand the foreground on.
        SetForegroundWindow(earlier);
        // Restores a minimised window and leaves any other as it is.
        PostMessageA(earlier, WM_SYSCOMMAND, SC_RESTORE, 0);
        return false;
      case StartStep::kLookAgain:
        Sleep(kLookStepMs);
        break;
    }
  }
}

void EndSetupInProgress() {
  // Exchanged, so it goes once: the worker's thread ends the run it ended, the
  // window thread one the watchdog gave up or whose worker never started.
  HANDLE object = shellGlobals.inProgressObject.exchange(nullptr, std::memory_order_acq_rel);
  if (object != nullptr) CloseHandle(object);
}
