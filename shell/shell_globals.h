// What only the shell keeps of the run: the worker's thread, the session's
// in-progress object and the cancel question's texts. Portable: no
// <windows.h>. The state the other subsystems share is state/setup_state.h.
#pragma once

#include <atomic>

using ThreadHandle = void*;
using ObjectHandle = void*;

inline constexpr char16_t kDefaultCancelQuestion[] = u"Are you sure you want to cancel the setup?";
inline constexpr char16_t kDefaultCancelTitle[] = u"Zorva Setup";

struct TagFields;

struct ShellGlobals {
  std::atomic<ThreadHandle> workerThread;
  // The session's in-progress object while this run holds it, else null.
  std::atomic<ObjectHandle> inProgressObject;
  // Written once, before the window exists.
  std::atomic<const char16_t*> cancelQuestion;
  std::atomic<const char16_t*> cancelTitle;
};

static_assert(std::atomic<ThreadHandle>::is_always_lock_free);
static_assert(std::atomic<const char16_t*>::is_always_lock_free);

extern ShellGlobals shellGlobals;

// Puts `shellGlobals` back to its start-up values; for the native tests.
void ResetShellGlobals();

// Takes each text the tag carries in place of its built-in one: the
// headline, the failure headline, the hint and the cancel question and its
// title; and the fallback page with its link's text. Start-up calls it
// before the window exists.
void TakeTagTexts(const TagFields& tag);
