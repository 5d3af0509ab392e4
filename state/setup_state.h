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

// Opaque system handle. HWND__* is exactly the type <windows.h> calls HWND.
struct HWND__;
using WindowHandle = HWND__*;

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

struct SetupGlobals {
  std::atomic<std::int32_t> state;
  std::atomic<std::int32_t> percent;
  std::atomic<const char16_t*> headline;
  std::atomic<const char16_t*> progressText;
  std::atomic<std::uint8_t> workerFinished;
  std::atomic<WindowHandle> window;
  std::atomic<std::int32_t> dpi;
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
