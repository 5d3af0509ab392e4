#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "download/binding_status.h"
#include "download/download_attempt.h"
#include "download/download_schedule.h"
#include "download/percent_texts.h"
#include "download/transfer_watch.h"
#include "shell/setup_globals.h"
#include "tests/unit/request_repaint_counter.h"

namespace {

using Outcome = AttemptOutcome;

constexpr std::int32_t Hresult(std::uint32_t value) { return static_cast<std::int32_t>(value); }

constexpr std::int32_t kDownloadFailure = Hresult(0x800C0008);  // INET_E_DOWNLOAD_FAILURE

// A call and an end that both succeeded, with a response of `status`.
AttemptFacts Ended(std::uint32_t status, std::uint32_t received = 100, std::uint32_t announced = 100) {
  return {0, 0, status, received, announced, false};
}

// A call that failed with `result`, as its end did, with no response.
AttemptFacts Failed(std::int32_t result) { return {result, result, 0, 0, 0, false}; }

TEST(ClassifyAttempt, JudgesTheStatusThenTheFailureThenTheLength) {
  AttemptFacts stalled = Ended(200, 10, 100);
  stalled.stalled = true;
  AttemptFacts failedEnd = Ended(200);
  failedEnd.endResult = Hresult(0x80004005);  // E_FAIL
  AttemptFacts windowsBusy = Ended(503);
  windowsBusy.callResult = kDownloadFailure;
  AttemptFacts windowsMissing = Ended(404);
  windowsMissing.callResult = Hresult(0x800C0005);
  struct Case {
    const char* name;
    AttemptFacts facts;
    Outcome outcome;
  };
  const Case cases[] = {
      {"whole", Ended(200), Outcome::kComplete},
      {"whole, length unknown", Ended(200, 5000, 0), Outcome::kComplete},
      {"whole, no HTTP", Ended(0), Outcome::kComplete},
      {"cut short, as Wine reports it", Ended(200, 51200, 204800), Outcome::kTransient},
      {"stalled", stalled, Outcome::kStalled},
      {"503 page, as Wine reports it", Ended(503), Outcome::kTransient},
      {"599", Ended(599), Outcome::kTransient},
      {"408", Ended(408), Outcome::kTransient},
      {"429", Ended(429), Outcome::kTransient},
      {"503, as Windows reports it", windowsBusy, Outcome::kTransient},
      {"404 page, as Wine reports it", Ended(404), Outcome::kLasting},
      {"404, as Windows may report it", windowsMissing, Outcome::kLasting},
      {"407", Ended(407), Outcome::kLasting},
      {"600", Ended(600), Outcome::kLasting},
      {"an unfollowed redirect", Ended(302), Outcome::kLasting},
      {"refused or unresolved (Wine)", Failed(kDownloadFailure), Outcome::kTransient},
      {"cannot connect", Failed(Hresult(0x800C0004)), Outcome::kTransient},
      {"server or proxy not found", Failed(Hresult(0x800C0005)), Outcome::kTransient},
      {"connection timeout", Failed(Hresult(0x800C000B)), Outcome::kTransient},
      {"object not found", Failed(Hresult(0x800C0006)), Outcome::kLasting},
      {"invalid URL", Failed(Hresult(0x800C0002)), Outcome::kLasting},
      {"not a URL moniker code", Failed(Hresult(0x801C0008)), Outcome::kLasting},
      {"aborted by a cancel", Failed(Hresult(0x80004004)), Outcome::kLasting},
      {"a success code from the call", Failed(1), Outcome::kLasting},
      {"a failed end after a successful call", failedEnd, Outcome::kLasting},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ClassifyAttempt(c.facts), c.outcome);
  }
}

TEST(DecideRetry, RetriesTransientFaultsThriceAndAStallOrAMismatchOnceWithinTheBudget) {
  const DownloadSchedule& schedule = kDownloadSchedule;
  const std::uint32_t first = schedule.waitMs[0], second = schedule.waitMs[1];
  // The longest since the last byte that still leaves room for a third
  // attempt that stalls and will not be aborted.
  const std::uint32_t roomy =
      schedule.budgetMs - second - schedule.stallMs - schedule.abortGraceMs;
  const OutcomeSet none = 0, stalled = OutcomeBit(Outcome::kStalled),
                   mismatched = OutcomeBit(Outcome::kPinMismatch),
                   transient = OutcomeBit(Outcome::kTransient);
  struct Case {
    Outcome outcome;
    int attemptsMade;
    OutcomeSet earlier;
    std::uint32_t msSinceLastByte, wait;
  };
  const Case cases[] = {
      {Outcome::kTransient, 1, none, 0, first},
      {Outcome::kTransient, 2, transient, 0, second},
      {Outcome::kTransient, 2, stalled, roomy, second},
      {Outcome::kTransient, 2, stalled, roomy + 1, kGiveUp},
      {Outcome::kTransient, 3, transient, 0, kGiveUp},
      {Outcome::kStalled, 1, none, schedule.stallMs, first},
      {Outcome::kStalled, 2, transient, roomy, second},
      {Outcome::kStalled, 2, stalled, 0, kGiveUp},
      {Outcome::kStalled, 3, transient, 0, kGiveUp},
      {Outcome::kPinMismatch, 1, none, 0, first},
      {Outcome::kPinMismatch, 2, stalled, 0, second},
      {Outcome::kPinMismatch, 2, mismatched, 0, kGiveUp},
      {Outcome::kLasting, 1, none, 0, kGiveUp},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << static_cast<int>(c.outcome) << " after " << c.attemptsMade
                                    << ", " << c.msSinceLastByte << " ms");
    EXPECT_EQ(DecideRetry(c.outcome, c.attemptsMade, c.earlier, c.msSinceLastByte), c.wait);
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
  OutcomeSet earlier = 0;
  for (int made = 1;; ++made) {
    const DeadAttempt& ending = endings[std::min<std::size_t>(made - 1, endings.size() - 1)];
    elapsed += ending.ms;
    const std::uint32_t wait = DecideRetry(ending.outcome, made, earlier, elapsed);
    if (wait == kGiveUp) {
      *attempts = made;
      return elapsed;
    }
    earlier |= OutcomeBit(ending.outcome);
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
  EXPECT_FALSE(EndWatchedAttempt());
}

TEST_F(TransferWatchTest, BytesAndNewAttemptsStartTheClockAgain) {
  const std::uint32_t almost = kDownloadSchedule.stallMs - kWatchStepMs;
  Steps(almost);
  NoteBytesArrived();
  EXPECT_EQ(Steps(almost), std::vector<WatchAction>{});
  BeginWatchedAttempt(2);
  EXPECT_EQ(Steps(almost), std::vector<WatchAction>{});
  EXPECT_TRUE(EndWatchedAttempt());
  // Between attempts, nothing is stalled.
  EXPECT_EQ(Steps(2 * kDownloadSchedule.stallMs), std::vector<WatchAction>{});
  EndTransferWatch();
  EXPECT_EQ(StepTransferWatch(), WatchAction::kEnd);
}

class AttemptReportTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetSetupGlobals();
    ResetRepaintRequests();
    setupGlobals.state.store(Downloading);
    attemptReport = {};
    StartFirstAttempt();
  }
  void TearDown() override { EndTransferWatch(); }
};

TEST_F(AttemptReportTest, RecordsTheTransferAndCountsAnErrorPageForNothing) {
  attemptReport.httpStatus = 503;
  EXPECT_EQ(AnswerProgress(110, 110), binding_result::kOk);
  EXPECT_EQ(setupGlobals.progressText.load(), PercentTexts[0]);
  EXPECT_EQ(RepaintRequests(), 0);
  const AttemptFacts& report = attemptReport;
  EXPECT_EQ(report.httpStatus, 503u);
  EXPECT_EQ(report.received, 110u);
  EXPECT_EQ(report.announced, 110u);
  AnswerStopBinding(binding_result::kAbort);
  EXPECT_EQ(report.endResult, binding_result::kAbort);
}

TEST_F(AttemptReportTest, OnlyACountThatGrewKeepsTheAttemptAlive) {
  const std::uint32_t steps = kDownloadSchedule.stallMs / kWatchStepMs;
  // Notifications of a connection being sought, each without a byte.
  for (std::uint32_t step = 0; step < steps; ++step) {
    AnswerProgress(0, 0);
    StepTransferWatch();
  }
  EXPECT_TRUE(AttemptStalled());
  EXPECT_EQ(MsSinceLastByte(), kDownloadSchedule.stallMs);
  BeginWatchedAttempt(2);
  attemptReport = {};
  for (std::uint32_t step = 0; step < steps; ++step) {
    AnswerProgress(step + 1, 2 * steps);
    StepTransferWatch();
  }
  EXPECT_FALSE(AttemptStalled());
  EXPECT_EQ(MsSinceLastByte(), kWatchStepMs);
}

}  // namespace
