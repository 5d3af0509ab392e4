#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "download/download_attempt.h"
#include "download/download_progress.h"
#include "download/download_schedule.h"
#include "download/transfer_watch.h"
#include "state/percent_texts.h"
#include "state/setup_state.h"
#include "tests/unit/request_repaint_counter.h"

namespace {

using Outcome = AttemptOutcome;

constexpr std::uint32_t kConnectionReset = 12031;  // ERROR_INTERNET_CONNECTION_RESET

// A body that ended without an error, after an answer of `status`.
AttemptFacts Ended(std::uint32_t status, std::uint32_t received = 100, std::uint32_t announced = 100) {
  return {0, status, received, announced, false, false, false};
}

// A request or read that failed with `failure`.
AttemptFacts FailedWith(std::uint32_t failure) { return {failure, 0, 0, 0, false, false, false}; }

// The installer file failed with `failure`: not made again, not written, not
// read back.
AttemptFacts FileFailedWith(std::uint32_t failure, std::uint32_t received = 0) {
  return {failure, 200, received, 100, false, false, true};
}

// Each case's outcome decides what follows; its class names the failure.
TEST(ClassifyAttempt, JudgesTheStallThenTheStatusThenTheFailureThenTheLength) {
  AttemptFacts stalled = Ended(200, 10, 100);
  stalled.stalled = true;
  stalled.failure = 12017;  // ERROR_INTERNET_OPERATION_CANCELLED, as the abort leaves it
  AttemptFacts refused = Ended(206, 0, 0);
  refused.refused = true;
  AttemptFacts refused416 = Ended(416, 0, 0);
  refused416.refused = true;
  AttemptFacts resetMidBody = Ended(206, 700, 1000);
  resetMidBody.failure = kConnectionReset;
  struct Case {
    const char* name;
    AttemptFacts facts;
    Outcome outcome;
    FailureClass failureClass;
    std::uint32_t detail;  // what the run ping tells of it
  };
  const Case cases[] = {
      {"whole", Ended(200), Outcome::kComplete, FailureClass::kNone, 0},
      {"whole, length unknown", Ended(200, 5000, 0), Outcome::kComplete, FailureClass::kNone, 0},
      {"whole, no HTTP", Ended(0), Outcome::kComplete, FailureClass::kNone, 0},
      {"the rest, whole", Ended(206), Outcome::kComplete, FailureClass::kNone, 0},
      {"cut short without an error", Ended(200, 51200, 204800), Outcome::kTransient, FailureClass::kCut, 0},
      {"longer than its length", Ended(206, 1001, 1000), Outcome::kTransient, FailureClass::kCut, 0},
      {"reset in the rest", resetMidBody, Outcome::kTransient, FailureClass::kReset, 0},
      {"stalled", stalled, Outcome::kStalled, FailureClass::kStall, 0},
      {"a 206 that does not continue", refused, Outcome::kTransient, FailureClass::kHttp, 206},
      {"416 to a request for the rest", refused416, Outcome::kTransient, FailureClass::kHttp, 416},
      {"416 to a request for all", Ended(416, 0, 0), Outcome::kLasting, FailureClass::kHttp, 416},
      {"503", Ended(503, 0, 0), Outcome::kTransient, FailureClass::kHttp, 503},
      {"599", Ended(599, 0, 0), Outcome::kTransient, FailureClass::kHttp, 599},
      {"408", Ended(408, 0, 0), Outcome::kTransient, FailureClass::kHttp, 408},
      {"429", Ended(429, 0, 0), Outcome::kTransient, FailureClass::kHttp, 429},
      {"404", Ended(404, 0, 0), Outcome::kLasting, FailureClass::kHttp, 404},
      {"407", Ended(407, 0, 0), Outcome::kLasting, FailureClass::kProxyAuth, 0},
      {"600", Ended(600, 0, 0), Outcome::kLasting, FailureClass::kHttp, 600},
      {"an unfollowed redirect", Ended(302, 0, 0), Outcome::kLasting, FailureClass::kHttp, 302},
      {"timeout", FailedWith(12002), Outcome::kTransient, FailureClass::kStall, 0},
      {"name not resolved", FailedWith(12007), Outcome::kTransient, FailureClass::kDns, 0},
      {"cannot connect (refused)", FailedWith(12029), Outcome::kTransient, FailureClass::kRefused, 0},
      {"connection aborted", FailedWith(12030), Outcome::kTransient, FailureClass::kReset, 0},
      {"connection reset", FailedWith(kConnectionReset), Outcome::kTransient, FailureClass::kReset, 0},
      {"closed before an answer", FailedWith(12152), Outcome::kTransient, FailureClass::kCut, 0},
      {"invalid URL", FailedWith(12005), Outcome::kLasting, FailureClass::kOther, 12005},
      {"certificate authority unknown", FailedWith(12045), Outcome::kLasting, FailureClass::kTls, 0},
      {"just below WinINet's codes", FailedWith(11999), Outcome::kLasting, FailureClass::kOther, 11999},
      {"just past the transient bits", FailedWith(12032), Outcome::kLasting, FailureClass::kOther, 12032},
      {"channel broken", FailedWith(12157), Outcome::kLasting, FailureClass::kTls, 0},
      {"disk full", FileFailedWith(112, 60), Outcome::kLasting, FailureClass::kDisk, 0},
      {"past 4 GB", FileFailedWith(223, 60), Outcome::kLasting, FailureClass::kDisk, 0},
      {"not made again for a new start", FileFailedWith(32), Outcome::kLasting,
       FailureClass::kDisk, 0},
      {"not read back for the check", FileFailedWith(5, 100), Outcome::kLasting,
       FailureClass::kDisk, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ClassifyAttempt(c.facts), c.outcome);
    EXPECT_EQ(ClassifyFailure(c.facts), c.failureClass);
    EXPECT_EQ(FailureDetail(c.failureClass, c.facts), c.detail);
  }
}

TEST(DecideRetry, GoesOnWhileAttemptsBringBytesAndRetriesAStallOrAMismatchOnce) {
  const DownloadSchedule& schedule = kDownloadSchedule;
  const std::uint32_t first = schedule.waitMs[0], second = schedule.waitMs[1];
  // The longest since the last byte that still leaves room for an attempt
  // that stalls and will not be aborted.
  const std::uint32_t roomy =
      schedule.budgetMs - second - schedule.stallMs - schedule.abortGraceMs;
  const OutcomeSet none = 0, stalled = OutcomeBit(Outcome::kStalled),
                   mismatched = OutcomeBit(Outcome::kPinMismatch),
                   transient = OutcomeBit(Outcome::kTransient);
  struct Case {
    Outcome outcome;
    RetryHistory history;  // attempts made, barren in a row, earlier outcomes
    std::uint32_t msSinceLastByte, wait;
  };
  const Case cases[] = {
      // On a network that brings nothing: two waits, then the end.
      {Outcome::kTransient, {1, 1, none}, 0, first},
      {Outcome::kTransient, {2, 2, transient}, 0, second},
      {Outcome::kTransient, {3, 3, transient}, 0, kGiveUp},
      // An attempt that brought bytes starts the count of barren ones again.
      {Outcome::kTransient, {3, 0, transient}, 0, first},
      {Outcome::kTransient, {9, 0, transient}, 0, first},
      {Outcome::kTransient, {9, 2, transient}, 0, second},
      {Outcome::kTransient, {10, 0, transient}, 0, kGiveUp},
      {Outcome::kTransient, {2, 2, stalled}, roomy, second},
      {Outcome::kTransient, {2, 2, stalled}, roomy + 1, kGiveUp},
      {Outcome::kStalled, {1, 1, none}, schedule.stallMs, first},
      {Outcome::kStalled, {2, 0, transient}, roomy, first},
      {Outcome::kStalled, {2, 0, stalled}, 0, kGiveUp},
      {Outcome::kStalled, {3, 3, transient}, 0, kGiveUp},
      {Outcome::kPinMismatch, {1, 0, none}, 0, first},
      {Outcome::kPinMismatch, {2, 0, stalled}, 0, first},
      {Outcome::kPinMismatch, {2, 0, mismatched}, 0, kGiveUp},
      {Outcome::kLasting, {1, 0, none}, 0, kGiveUp},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << static_cast<int>(c.outcome) << " after "
                                    << c.history.attemptsMade << ", " << c.history.barrenInARow
                                    << " barren, " << c.msSinceLastByte << " ms");
    EXPECT_EQ(DecideRetry(c.outcome, c.history, c.msSinceLastByte), c.wait);
  }
}

TEST(DecideRetry, CountsAsNewOnlyBytesBeyondTheMostEverKept) {
  EXPECT_TRUE(BroughtNewBytes(1, 0));
  EXPECT_TRUE(BroughtNewBytes(900, 850));
  EXPECT_FALSE(BroughtNewBytes(850, 850));  // a server that ignores Range and cuts at the same place
  EXPECT_FALSE(BroughtNewBytes(0, 850));    // started over, then cut at once
}

// A server that ignores Range and cuts every transfer at the same byte ends
// the download after three attempts that bring nothing new; one that lets
// each attempt go further goes on to the tenth.
TEST(DecideRetry, EndsRepeatsOfTheSameCutButLetsProgressGoOn) {
  for (bool progressing : {false, true}) {
    SCOPED_TRACE(progressing);
    RetryHistory history{};
    std::uint32_t mostKept = 0;
    int attempts = 0;
    for (int made = 1;; ++made) {
      const std::uint32_t kept = progressing ? 1000u * static_cast<std::uint32_t>(made) : 850u;
      history.attemptsMade = made;
      history.barrenInARow = BroughtNewBytes(kept, mostKept) ? 0 : history.barrenInARow + 1;
      if (kept > mostKept) mostKept = kept;
      const std::uint32_t wait = DecideRetry(Outcome::kTransient, history, 0);
      history.earlier |= OutcomeBit(Outcome::kTransient);
      if (wait == kGiveUp) {
        attempts = made;
        break;
      }
    }
    EXPECT_EQ(attempts, progressing ? kMostAttempts : 1 + kMostBarrenInARow);
  }
}

// How an attempt on a dead network ends, and how long it takes.
struct DeadAttempt {
  Outcome outcome;
  std::uint32_t ms;
};

// From the first attempt's start to the failure texts, on a network that
// brings no byte, when the attempts end as `endings` say (the last one
// repeated as needed); the attempts made in *attempts.
std::uint32_t MsToFailureTexts(const std::vector<DeadAttempt>& endings, int* attempts) {
  std::uint32_t elapsed = 0;
  RetryHistory history{};
  for (int made = 1;; ++made) {
    const DeadAttempt& ending = endings[std::min<std::size_t>(made - 1, endings.size() - 1)];
    elapsed += ending.ms;
    history.attemptsMade = made;
    history.barrenInARow = made;
    const std::uint32_t wait = DecideRetry(ending.outcome, history, elapsed);
    if (wait == kGiveUp) {
      *attempts = made;
      return elapsed;
    }
    history.earlier |= OutcomeBit(ending.outcome);
    elapsed += wait;
  }
}

TEST(DownloadSchedule, EndsADeadNetworkSoonEnough) {
  const DownloadSchedule& schedule = kDownloadSchedule;
  const DeadAttempt refused{Outcome::kTransient, 0},
      // Windows gives up a connection that is never answered after about 21 s.
      unanswered{Outcome::kTransient, 21'000}, stall{Outcome::kStalled, schedule.stallMs},
      deaf{Outcome::kLasting, schedule.stallMs + schedule.abortGraceMs};
  int attempts = 0;
  EXPECT_LE(MsToFailureTexts({refused}, &attempts), 15'000u);
  EXPECT_EQ(attempts, 3);
  EXPECT_LE(MsToFailureTexts({stall}, &attempts), 75'000u);
  EXPECT_EQ(attempts, 2);
  const DeadAttempt kinds[] = {refused, unanswered, stall, deaf};
  for (const DeadAttempt& a : kinds) {
    for (const DeadAttempt& b : kinds) {
      for (const DeadAttempt& c : kinds) {
        EXPECT_LE(MsToFailureTexts({a, b, c}, &attempts), schedule.budgetMs);
      }
    }
  }
  EXPECT_EQ(schedule.budgetMs, 75'000u);
}

// Attempt 1 under way, both clocks at 0.
void StartFirstAttempt() {
  BeginWatchedAttempt(1);
  NoteBytesArrived();
}

class TransferWatchTest : public testing::Test {
 protected:
  void SetUp() override { StartFirstAttempt(); }
  void TearDown() override { EndTransferWatch(); }

  // The watchdog's steps over `ms`, each action seen.
  static std::vector<WatchAction> Steps(std::uint32_t ms) {
    std::vector<WatchAction> actions;
    for (std::uint32_t slept = 0; slept < ms; slept += kWatchStepMs) {
      const WatchAction action = StepTransferWatch();
      if (action != WatchAction::kNone) actions.push_back(action);
    }
    return actions;
  }
};

TEST_F(TransferWatchTest, AbortsOnceAtTheStallAndTakesOverAfterTheGrace) {
  const DownloadSchedule& schedule = kDownloadSchedule;
  EXPECT_EQ(Steps(schedule.stallMs - kWatchStepMs), std::vector<WatchAction>{});
  EXPECT_FALSE(AttemptStalled());
  EXPECT_EQ(Steps(kWatchStepMs), std::vector<WatchAction>{WatchAction::kAbort});
  EXPECT_TRUE(AttemptStalled());
  EXPECT_EQ(Steps(schedule.abortGraceMs), std::vector<WatchAction>{WatchAction::kTakeOver});
  // Bytes the worker reads after the take-over are not its to write.
  EXPECT_FALSE(NoteBytesArrived());
  EXPECT_FALSE(EndWatchedAttempt());
}

TEST_F(TransferWatchTest, BytesAndNewAttemptsStartTheClockAgain) {
  const std::uint32_t almost = kDownloadSchedule.stallMs - kWatchStepMs;
  Steps(almost);
  EXPECT_TRUE(NoteBytesArrived());
  EXPECT_EQ(Steps(almost), std::vector<WatchAction>{});
  // Bytes after the abort, within the grace: the attempt goes on.
  EXPECT_EQ(Steps(2 * kWatchStepMs), std::vector<WatchAction>{WatchAction::kAbort});
  EXPECT_TRUE(NoteBytesArrived());
  EXPECT_EQ(Steps(almost), std::vector<WatchAction>{});
  BeginWatchedAttempt(2);
  EXPECT_EQ(Steps(almost), std::vector<WatchAction>{});
  EXPECT_TRUE(EndWatchedAttempt());
  // Between attempts, nothing is stalled.
  EXPECT_EQ(Steps(2 * kDownloadSchedule.stallMs), std::vector<WatchAction>{});
  EndTransferWatch();
  EXPECT_EQ(StepTransferWatch(), WatchAction::kEnd);
}

class KeptBytesTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetSetupGlobals();
    ResetRepaintRequests();
    setupGlobals.state.store(Downloading);
    StartFirstAttempt();
  }
  void TearDown() override { EndTransferWatch(); }
};

TEST_F(KeptBytesTest, ShowTheShareOfTheWholeFileAndKeepTheAttemptAlive) {
  const std::uint32_t steps = kDownloadSchedule.stallMs / kWatchStepMs;
  for (std::uint32_t step = 0; step + 1 < steps; ++step) StepTransferWatch();
  // A resumed attempt's first bytes: 850 of 1000 are there.
  EXPECT_TRUE(NoteBytesArrived());
  EXPECT_TRUE(ReportKeptBytes(850, 1000));
  EXPECT_EQ(setupGlobals.progressText.load(), PercentTexts[85]);
  EXPECT_EQ(setupGlobals.shareKnown.load(), 1);
  EXPECT_EQ(RepaintRequests(), 1);
  for (std::uint32_t step = 0; step + 1 < steps; ++step) StepTransferWatch();
  EXPECT_FALSE(AttemptStalled());
  EXPECT_EQ(MsSinceLastByte(), kDownloadSchedule.stallMs - kWatchStepMs);
  StepTransferWatch();
  EXPECT_TRUE(AttemptStalled());
}

// The taskbar button stops moving at the first byte that a length measures:
// one repaint tells it, also while the splash stays at "0%".
TEST_F(KeptBytesTest, TheFirstMeasuredByteMakesTheShareKnownWithOneRepaint) {
  EXPECT_TRUE(ReportKeptBytes(500, 0));
  EXPECT_EQ(setupGlobals.shareKnown.load(), 0);
  EXPECT_EQ(RepaintRequests(), 0);
  EXPECT_TRUE(ReportKeptBytes(1, 1000));
  EXPECT_EQ(setupGlobals.shareKnown.load(), 1);
  EXPECT_EQ(setupGlobals.progressText.load(), PercentTexts[0]);
  EXPECT_EQ(RepaintRequests(), 1);
  EXPECT_TRUE(ReportKeptBytes(2, 1000));
  EXPECT_EQ(RepaintRequests(), 1);
}

TEST_F(KeptBytesTest, InAnyOtherStateStopTheTransferAndChangeNothing) {
  ReportKeptBytes(40, 100);
  for (SetupState state : {Idle, Cancelled, Failed, Downloaded, Finished}) {
    SCOPED_TRACE(state);
    ResetRepaintRequests();
    setupGlobals.state.store(state);
    EXPECT_FALSE(ReportKeptBytes(90, 100));
    EXPECT_EQ(setupGlobals.progressText.load(), PercentTexts[40]);
    EXPECT_EQ(setupGlobals.state.load(), state);
    EXPECT_EQ(RepaintRequests(), 0);
  }
}

}  // namespace
