// The run's state that the worker thread, the watchdog and the window thread
// share, and the operations beside it. Portable: no <windows.h>.
//
// Only what more than one subsystem reads lives here: the state code, the
// texts the splash shows, the worker's end, the window and its DPI. What one
// subsystem alone uses stays with it (shell/shell_globals.h: the worker's
// thread, the in-progress object, the cancel texts; splash/splash_look.h:
// the colours and images).
#pragma once

#include <atomic>
#include <cstdint>

// Opaque system handles. HWND__* is exactly the type <windows.h> calls HWND.
struct HWND__;
using WindowHandle = HWND__*;
using ThreadHandle = void*;

enum SetupState : std::int32_t {
  Idle = 0,
  Downloading = 1,
  Cancelled = 2,
  Failed = 3,
  Downloaded = 4,
  Finished = 5,
};

// The built-in English texts, which a tag may replace (tag/setup_tag.h).
inline constexpr char16_t kDefaultHeadline[] = u"INSTALLING ZORVA";
inline constexpr char16_t kFailureHeadline[] = u"FAILED TO DOWNLOAD";
inline constexpr char16_t kFailureProgressText[] = u":(";
// The two-line hint under the progress text: drawn by the painter, and the
// accessible object's description.
inline constexpr char16_t kDefaultHint[] =
    u"PLEASE WAIT WHILE THE REQUIRED\r\nFILES ARE DOWNLOADED";

// What ended the download, for whoever reports on the run: one class for
// each way it fails. The reasons FailureReason names are the classes' own.
enum class FailureClass : std::uint8_t {
  kNone,
  kHttp,       // an answer whose status is no installer, or a refused request for the rest
  kRefused,    // the connection was refused
  kReset,      // the connection was reset or broken off
  kTls,        // the secure channel or the server's certificate failed
  kDns,        // the name did not resolve
  kStall,      // no byte for the stall bound, or a call that never returned
  kCut,        // the body ended before the whole file
  kProxyAuth,  // the proxy asked for a login
  kDisk,       // the installer file could not be made, written or read back
  kOther,      // anything else: a pin mismatch, a worker that could not start
};

// "http", "refused", ..., "other"; "" for kNone.
const char* FailureReason(FailureClass failure);

// Messages the worker's threads post to the setup window, from WM_APP
// (0x8000) up. Posted, never sent: no thread waits for the window.
enum SetupWindowMessage : std::uint32_t {
  // The watchdog: a stalled call of the worker did not end within the grace,
  // so the download is given up; the window thread puts the failure up and
  // ends the run. The worker, should its call ever return, does nothing more.
  kWorkerGaveUpMessage = 0x8000,
  // Each repaint request: the window thread brings the taskbar button up to
  // date, which a minimised window's missing WM_PAINT would not.
  kRunChangedMessage = 0x8001,
  // Assistive technology asked for the splash's default action: the window
  // thread opens the fallback page, so the request returns at once.
  kOpenFallbackPageMessage = 0x8002,
};

struct SetupGlobals {
  std::atomic<std::int32_t> state;
  // The progress text is the percentage shown: ShownPercent reads it back.
  std::atomic<const char16_t*> headline;
  std::atomic<const char16_t*> progressText;
  std::atomic<std::uint8_t> workerFinished;
  std::atomic<WindowHandle> window;
  std::atomic<std::int32_t> dpi;
  // The watchdog's thread while the download runs, else null: a cancel stops
  // it before it ends the worker.
  std::atomic<ThreadHandle> watchdogThread;
  std::atomic<FailureClass> failureClass;
  // Set to 1 by the worker at the first byte of a file whose length is
  // known: from then on the percentage measures the download.
  std::atomic<std::uint8_t> shareKnown;
  // The texts in the person's language: written once, before the window
  // exists; read when the failure is put up and when the splash is drawn.
  std::atomic<const char16_t*> failureHeadline;
  std::atomic<const char16_t*> hint;
};

// No lock guards the record: every field must be a single lock-free word.
static_assert(std::atomic<std::int32_t>::is_always_lock_free);
static_assert(std::atomic<std::uint8_t>::is_always_lock_free);
static_assert(std::atomic<const char16_t*>::is_always_lock_free);
static_assert(std::atomic<WindowHandle>::is_always_lock_free);
static_assert(std::atomic<ThreadHandle>::is_always_lock_free);
static_assert(std::atomic<FailureClass>::is_always_lock_free);

extern SetupGlobals setupGlobals;

// The setup window, or null before start-up has created it.
inline WindowHandle SetupWindow() { return setupGlobals.window.load(std::memory_order_acquire); }

// Puts `setupGlobals` back to its start-up values. The program never calls it;
// the native tests do, between cases.
void ResetSetupGlobals();

// Invalidates the whole setup window with erase; any thread. It calls the
// repaint hook, so the portable core never links the window code.
void RequestRepaint();

// What RequestRepaint calls: start-up sets the window's invalidation
// (shell/), the native tests a counter. Set before the worker starts, so the
// thread's start orders the store before every call; null calls nothing.
using RepaintHook = void (*)();
void SetRepaintHook(RepaintHook hook);

// A confirmed cancel: `Downloading` becomes `Cancelled`, any other code stays.
void CancelSetup();

// Shows `percent` (0..100) as its PercentTexts entry and asks for a repaint:
// only when it changes the progress text, and never once the failure texts
// are up (a compare-and-set on `progressText`, so a failure put up by
// another thread in between wins). True when it was shown.
bool ShowPercent(int percent);

// The failure headline (the built-in one or the tag's) and ":(", one
// repaint; any thread. Once up they stay: no percentage replaces them.
// `state` is left alone.
void ShowFailureTexts();

// The percentage the progress text shows; 0 while the failure texts are up.
int ShownPercent();
