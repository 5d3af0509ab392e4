// What a start does about an earlier setup in the user's session, from what
// it found. Portable.
//
// A run holds the session's in-progress object from its start until its
// worker has finished or failed, and its window lives on after a failure. So
// a start that takes the object finds at most a failed run's window; a start
// that cannot take it is meant to find the window of a run at work, unless
// that run is still starting up, or the name is held by something that is no
// setup of this desktop.
#pragma once

enum class StartStep {
  kRun,                  // start as usual
  kCloseEarlierThenRun,  // an earlier run failed: close its window, then start
  kBringEarlierForward,  // an earlier run is at work: bring it forward and exit
  kLookAgain,            // the object is held and no window shows yet
};

// objectTaken: this start created the in-progress object; windowFound: a
// setup window exists on this desktop; mayWait: the start has not yet looked
// for that window for as long as a run takes to create it.
constexpr StartStep DecideStartStep(bool objectTaken, bool windowFound, bool mayWait) {
  if (objectTaken) return windowFound ? StartStep::kCloseEarlierThenRun : StartStep::kRun;
  if (windowFound) return StartStep::kBringEarlierForward;
  // A name held with no setup window to show for it must not stop this one.
  return mayWait ? StartStep::kLookAgain : StartStep::kRun;
}
