// What the setup's taskbar button shows of the download: the choice is made
// here, from the shared state; the window's edge hands it to the shell.
// Portable: no <windows.h>.
#pragma once

#include <cstdint>

#include "state/setup_state.h"

// How the button's bar shows. The values are the shell's TBPF_* flags.
enum class TaskbarMark : std::uint8_t {
  kNone = 0,           // no bar
  kIndeterminate = 1,  // moving, no value: nothing measures the download yet
  kNormal = 2,
  kError = 4,
  kPaused = 8,
};

struct TaskbarProgress {
  TaskbarMark mark;
  // Of 100; shown with kNormal, kPaused and kError only.
  std::uint8_t percent;
  friend bool operator==(const TaskbarProgress&, const TaskbarProgress&) = default;
};

// Whether `mark` shows a value beside its colour.
constexpr bool ShowsValue(TaskbarMark mark) { return mark >= TaskbarMark::kNormal; }

// The button for a setup in `state` whose splash shows `percent`, while the
// cancel question is up or not, once a byte of a file of known length has
// arrived or before: moving until the percentage measures something, then
// the percentage; paused at it while the question waits for an answer; the
// whole bar red once the download has failed; no bar once the setup has
// handed off or been cancelled.
TaskbarProgress TaskbarProgressFor(SetupState state, std::int32_t percent, bool questionUp,
                                   bool shareKnown);
