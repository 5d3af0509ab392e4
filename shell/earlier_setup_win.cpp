#include "shell/earlier_setup_win.h"

#include "base/system_function_win.h"
#include "shell/earlier_setup.h"
#include "shell/setup_window_win.h"
#include "shell/shell_globals.h"
#include "state/setup_state.h"

namespace {

// The texts below are read-only, as in .rdata, but sit in .text: the last
// 512-byte block of .rdata has 8 bytes left, that of .text has room for
// them, and each block taken adds 512 bytes to the exe.
#define IN_CODE_SECTION __attribute__((section(".text$earlier_setup")))

IN_CODE_SECTION constexpr char kInProgressObject[] = "Local\\ZorvaSetupInProgress";
IN_CODE_SECTION constexpr char kKernel32[] = "kernel32.dll";
IN_CODE_SECTION constexpr char kUser32[] = "User32.dll";
IN_CODE_SECTION constexpr char kCreateMutexA[] = "CreateMutexA";
IN_CODE_SECTION constexpr char kFindWindowA[] = "FindWindowA";
IN_CODE_SECTION constexpr char kPostMessageA[] = "PostMessageA";
IN_CODE_SECTION constexpr char kSetForegroundWindow[] = "SetForegroundWindow";
// A run creates its window within moments of taking the object; a start that
// finds the object held looks for that long, then goes on.
constexpr DWORD kLookStepMs = 100;
constexpr int kLooks = 50;

// Looked up, not imported: the exe imports nothing beyond what it had. Every
// Windows has them; kernel32 and user32 are in every process of this exe, so
// nothing is loaded for them.
using CreateMutexAFunction = HANDLE(WINAPI*)(SECURITY_ATTRIBUTES* security, BOOL initialOwner,
                                             const char* name);
using FindWindowAFunction = HWND(WINAPI*)(const char* windowClass, const char* title);
using PostMessageAFunction = BOOL(WINAPI*)(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam);
using SetForegroundWindowFunction = BOOL(WINAPI*)(HWND window);

struct StartFunctions {
  CreateMutexAFunction createMutex;
  FindWindowAFunction findWindow;
  PostMessageAFunction postMessage;
  SetForegroundWindowFunction setForeground;
};

bool LookUpStartFunctions(StartFunctions& functions) {
  functions.createMutex =
      LookUpFunction<CreateMutexAFunction>(GetModuleHandleA(kKernel32), kCreateMutexA);
  HMODULE user32 = GetModuleHandleA(kUser32);
  functions.findWindow = LookUpFunction<FindWindowAFunction>(user32, kFindWindowA);
  functions.postMessage = LookUpFunction<PostMessageAFunction>(user32, kPostMessageA);
  functions.setForeground =
      LookUpFunction<SetForegroundWindowFunction>(user32, kSetForegroundWindow);
  return functions.createMutex && functions.findWindow && functions.postMessage &&
         functions.setForeground;
}

}  // namespace

bool SettleEarlierSetup() {
  StartFunctions functions;
  if (!LookUpStartFunctions(functions)) return true;
  HANDLE object = nullptr;
  for (int look = 1;; ++look) {
    // Made anew at every look: the handle this start holds keeps the object
    // alive, so a run that ended meanwhile shows only to a fresh create. The
    // user's default security: no other user but an administrator can open
    // the object.
    if (object != nullptr) CloseHandle(object);
    object = functions.createMutex(nullptr, FALSE, kInProgressObject);
    const bool taken = object != nullptr && GetLastError() != ERROR_ALREADY_EXISTS;
    // Kept whoever made it; ended with the run's work or its process.
    shellGlobals.inProgressObject.store(object, std::memory_order_release);
    HWND earlier = functions.findWindow(kWindowClass, nullptr);
    switch (DecideStartStep(taken, earlier != nullptr, look < kLooks)) {
      case StartStep::kRun:
        return true;
      case StartStep::kCloseEarlierThenRun:
        // It shows the failure texts, so its close asks nothing.
        functions.postMessage(earlier, WM_CLOSE, 0, 0);
        return true;
      case StartStep::kBringEarlierForward:
        // This start, the one the user just made, may hand the foreground on.
        functions.setForeground(earlier);
        // Restores a minimised window and leaves any other as it is.
        functions.postMessage(earlier, WM_SYSCOMMAND, SC_RESTORE, 0);
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
