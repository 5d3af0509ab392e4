#include "shell/taskbar_button_win.h"

#include <shobjidl.h>

#include "base/system_functions_win.h"
#include "base/system_library_win.h"
#include "shell/setup_window_win.h"
#include "shell/taskbar_progress.h"
#include "state/setup_state.h"

static_assert(static_cast<int>(TaskbarMark::kNone) == TBPF_NOPROGRESS);
static_assert(static_cast<int>(TaskbarMark::kIndeterminate) == TBPF_INDETERMINATE);
static_assert(static_cast<int>(TaskbarMark::kNormal) == TBPF_NORMAL);
static_assert(static_cast<int>(TaskbarMark::kError) == TBPF_ERROR);
static_assert(static_cast<int>(TaskbarMark::kPaused) == TBPF_PAUSED);

namespace {

// Spelled out: mingw's headers declare both as data of a library the exe
// does not link.
constexpr CLSID kTaskbarListClass{
    0x56FDF344, 0xFD6D, 0x11D0, {0x95, 0x8A, 0x00, 0x60, 0x97, 0xC9, 0xA0, 0x90}};
constexpr IID kTaskbarList3Interface{
    0xEA1AFB91, 0x9E28, 0x4B86, {0x90, 0xE9, 0x9E, 0x9F, 0x8A, 0x5E, 0xEF, 0xAF}};

UINT taskbarButtonCreated = 0;
ITaskbarList3* taskbarList = nullptr;
// What the button shows, or would show had the shell made it yet.
TaskbarProgress shown{TaskbarMark::kIndeterminate, 0};
bool questionUp = false;
// No percentage is ever this: a new button takes the one shown.
constexpr std::uint8_t kNoValue = 0xFF;

// Loads COM and makes the shell's list, once. False while any of it cannot be
// had; the shell's next word tries again.
bool MakeTaskbarList() {
  if (taskbarList != nullptr) return true;
  // Only the look-ups are tested; a failed load makes its look-ups fail too.
  if (!LookUpSystemFunctions(SystemModule::kOle32, LoadSystemLibrary(u"ole32.dll"))) return false;
  // The list lives in this thread's apartment, the window's, single-threaded
  // as the accessible object's. The result is not needed: a failure shows as
  // a failed creation.
  systemFunctions.CoInitialize(nullptr);
  ITaskbarList3* list = nullptr;
  if (systemFunctions.CoCreateInstance(kTaskbarListClass, nullptr, CLSCTX_INPROC_SERVER, kTaskbarList3Interface,
                       reinterpret_cast<void**>(&list)) != S_OK) {
    return false;
  }
  if (list->HrInit() != S_OK) {
    list->Release();
    return false;
  }
  taskbarList = list;
  return true;
}

// Tells the list what changed since the button showed `before`.
void ApplyToButton(HWND hwnd, TaskbarProgress before) {
  if (taskbarList == nullptr) return;
  if (shown.mark != before.mark)
    taskbarList->SetProgressState(hwnd, static_cast<TBPFLAG>(shown.mark));
  if (ShowsValue(shown.mark) && (shown.percent != before.percent || !ShowsValue(before.mark)))
    taskbarList->SetProgressValue(hwnd, shown.percent, 100);
}

// A failure behind other windows is seen: the button flashes until the
// splash comes to the front.
void FlashInBackground(HWND hwnd) {
  if (GetForegroundWindow() == hwnd) return;
  FLASHWINFO flash{sizeof flash, hwnd, FLASHW_TRAY | FLASHW_TIMERNOFG, 0, 0};
  FlashWindowEx(&flash);
}

void Show(HWND hwnd, TaskbarProgress wanted) {
  if (wanted == shown) return;
  const TaskbarProgress before = shown;
  shown = wanted;
  // A failure is final: the button turns red once.
  if (wanted.mark == TaskbarMark::kError) FlashInBackground(hwnd);
  ApplyToButton(hwnd, before);
}

void ShowSetupState(HWND hwnd) {
  Show(hwnd, TaskbarProgressFor(
                 static_cast<SetupState>(setupGlobals.state.load(std::memory_order_acquire)),
                 ShownPercent(), questionUp,
                 setupGlobals.shareKnown.load(std::memory_order_acquire) != 0));
}

}  // namespace

void ListenForTaskbarButton(HWND window) {
  taskbarButtonCreated = RegisterWindowMessageW(L"TaskbarButtonCreated");
  // The shell runs unelevated; an elevated window hears it only so.
  ChangeWindowMessageFilterEx(window, taskbarButtonCreated, MSGFLT_ALLOW, nullptr);
}

void TellTaskbarButtonOfChange() { PostMessageA(SetupWindow(), kRunChangedMessage, 0, 0); }

bool AnswerTaskbarMessage(HWND hwnd, UINT message) {
  if (message == kRunChangedMessage) {
    ShowSetupState(hwnd);
    return true;
  }
  if (taskbarButtonCreated == 0 || message != taskbarButtonCreated) return false;
  // A new button (at start, or after the shell restarted) shows nothing yet.
  if (MakeTaskbarList()) ApplyToButton(hwnd, {TaskbarMark::kNone, kNoValue});
  return true;
}

void ShowCancelQuestionOnTaskbar(HWND hwnd, bool up) {
  questionUp = up;
  ShowSetupState(hwnd);
}

void ClearTaskbarButton(HWND hwnd) { Show(hwnd, {TaskbarMark::kNone, 0}); }
