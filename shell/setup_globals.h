// The one record the main thread and the worker thread share, and the two
// operations beside it. Portable: no <windows.h>.
#pragma once

#include <atomic>
#include <cstdint>

// Opaque system handles. HWND__* is exactly the type <windows.h> calls HWND.
struct HWND__;
using WindowHandle = HWND__*;
using ThreadHandle = void*;
using ObjectHandle = void*;
// A GDI+ image wrapper of the Win32 edge (splash/).
class Image;

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
// The two-line hint under the progress text: drawn by the painter, and the
// accessible object's description.
inline constexpr char16_t kDefaultHint[] =
    u"PLEASE WAIT WHILE THE REQUIRED\r\nFILES ARE DOWNLOADED";
inline constexpr char16_t kDefaultCancelQuestion[] = u"Are you sure you want to cancel the setup?";
inline constexpr char16_t kDefaultCancelTitle[] = u"Zorva Setup";

struct TagFields;

struct SetupGlobals {
  std::atomic<std::int32_t> state;
  std::atomic<std::int32_t> percent;
  std::atomic<const char16_t*> headline;
  std::atomic<const char16_t*> progressText;
  std::atomic<std::uint8_t> workerFinished;
  std::atomic<WindowHandle> window;
  std::atomic<ThreadHandle> workerThread;
  std::atomic<std::int32_t> dpi;
  std::uint32_t backgroundColor;
  std::uint32_t textColor;
  std::uint32_t hintColor;
  std::atomic<Image*> tileImage;
  std::atomic<Image*> logoImage;
  // The texts in the person's language: written once, before the window
  // exists; the worker reads `failureHeadline` when it puts up the failure.
  std::atomic<const char16_t*> failureHeadline;
  std::atomic<const char16_t*> hint;
  std::atomic<const char16_t*> cancelQuestion;
  std::atomic<const char16_t*> cancelTitle;
  // The session's in-progress object while this run holds it, else null.
  std::atomic<ObjectHandle> inProgressObject;
  // Set to 1 by the worker at the first byte of a file whose length is
  // known: from then on the percentage measures the download.
  std::atomic<std::uint8_t> shareKnown;
};

// No lock guards the record: every field must be a single lock-free word.
static_assert(std::atomic<std::int32_t>::is_always_lock_free);
static_assert(std::atomic<std::uint8_t>::is_always_lock_free);
static_assert(std::atomic<const char16_t*>::is_always_lock_free);
static_assert(std::atomic<WindowHandle>::is_always_lock_free);
static_assert(std::atomic<ThreadHandle>::is_always_lock_free);
static_assert(std::atomic<Image*>::is_always_lock_free);
static_assert(std::atomic<ObjectHandle>::is_always_lock_free);

extern SetupGlobals setupGlobals;

// The setup window, or null before start-up has created it.
inline WindowHandle SetupWindow() { return setupGlobals.window.load(std::memory_order_acquire); }

// Puts `setupGlobals` back to its start-up values. The program never calls it;
// the native tests do, between cases.
void ResetSetupGlobals();

// Takes each text the tag carries in place of its built-in one: the
// headline, the failure headline, the hint and the cancel question and its
// title. Start-up calls it before the window exists.
void TakeTagTexts(const TagFields& tag);

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
