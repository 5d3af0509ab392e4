#include "shell/taskbar_progress.h"

TaskbarProgress TaskbarProgressFor(SetupState state, std::int32_t percent, bool questionUp,
                                   bool shareKnown) {
  // Red at 0 would be an empty bar: a failure fills it.
  if (state == Failed) return {TaskbarMark::kError, 100};
  if (state == Cancelled || state == Finished) return {TaskbarMark::kNone, 0};
  // While the installer runs the download is whole, whether or not its
  // length was told.
  TaskbarProgress shown = state == Downloaded ? TaskbarProgress{TaskbarMark::kNormal, 100}
                          : shareKnown        ? TaskbarProgress{TaskbarMark::kNormal, static_cast<std::uint8_t>(percent)}
                                              : TaskbarProgress{TaskbarMark::kIndeterminate, 0};
  if (questionUp) shown.mark = TaskbarMark::kPaused;
  return shown;
}
