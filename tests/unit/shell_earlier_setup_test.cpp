#include <gtest/gtest.h>

#include "shell/earlier_setup.h"

namespace {

TEST(DecideStartStep, OnlyAWindowBesideAHeldObjectStopsAStart) {
  struct Case {
    const char* name;
    bool objectTaken;
    bool windowFound;
    bool mayWait;
    StartStep step;
  };
  const Case cases[] = {
      {"first setup of the session", true, false, true, StartStep::kRun},
      {"an earlier run failed", true, true, true, StartStep::kCloseEarlierThenRun},
      {"an earlier run failed, the wait over", true, true, false, StartStep::kCloseEarlierThenRun},
      {"an earlier run at work", false, true, true, StartStep::kBringEarlierForward},
      {"an earlier run at work, the wait over", false, true, false,
       StartStep::kBringEarlierForward},
      {"an earlier run still starting up", false, false, true, StartStep::kLookAgain},
      // Held by something that shows no setup here: a squatter, or a run of
      // another desktop.
      {"a held name and no window, the wait over", false, false, false, StartStep::kRun},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DecideStartStep(c.objectTaken, c.windowFound, c.mayWait), c.step);
  }
}

}  // namespace
