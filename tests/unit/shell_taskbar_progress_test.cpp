#include <gtest/gtest.h>

#include "shell/taskbar_progress.h"

namespace {

constexpr TaskbarMark kNone = TaskbarMark::kNone;
constexpr TaskbarMark kMoving = TaskbarMark::kIndeterminate;
constexpr TaskbarMark kNormal = TaskbarMark::kNormal;
constexpr TaskbarMark kError = TaskbarMark::kError;
constexpr TaskbarMark kPaused = TaskbarMark::kPaused;

TEST(TaskbarProgress, FollowsTheSetupFromTheFirstMeasuredByteToTheHandOff) {
  struct Case {
    SetupState state;
    int percent;
    bool questionUp, shareKnown;
    TaskbarMark mark;
    int shown;
  };
  const Case cases[] = {
      // Nothing measures the download yet: before it starts, before the first
      // byte, and while bytes of a file of unknown length arrive.
      {Idle, 0, false, false, kMoving, 0},
      {Downloading, 0, false, false, kMoving, 0},
      // Then the percentage, 0 included, as the splash shows it.
      {Downloading, 0, false, true, kNormal, 0},
      {Downloading, 37, false, true, kNormal, 37},
      {Downloading, 100, false, true, kNormal, 100},
      // The installer runs: the download is whole, its length told or not.
      {Downloaded, 100, false, true, kNormal, 100},
      {Downloaded, 0, false, false, kNormal, 100},
      // The question holds the bar where it stands.
      {Idle, 0, true, false, kPaused, 0},
      {Downloading, 0, true, false, kPaused, 0},
      {Downloading, 58, true, true, kPaused, 58},
      {Downloaded, 100, true, true, kPaused, 100},
      // A failure fills the bar in red, question or not; the failure texts
      // have put the percentage back to 0.
      {Failed, 0, false, true, kError, 100},
      {Failed, 0, true, false, kError, 100},
      // Handed off or cancelled: no bar.
      {Finished, 100, false, true, kNone, 0},
      {Cancelled, 42, false, true, kNone, 0},
      {Cancelled, 42, true, true, kNone, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "state " << c.state << ", " << c.percent << "%, question "
                                    << c.questionUp << ", share known " << c.shareKnown);
    const TaskbarProgress shown = TaskbarProgressFor(c.state, c.percent, c.questionUp, c.shareKnown);
    EXPECT_EQ(shown.mark, c.mark);
    EXPECT_EQ(shown.percent, c.shown);
    EXPECT_EQ(ShowsValue(shown.mark), c.mark != kNone && c.mark != kMoving);
  }
}

}  // namespace
