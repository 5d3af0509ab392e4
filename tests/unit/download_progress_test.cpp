#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string_view>

#include "download/download_progress.h"
#include "state/percent_texts.h"
#include "state/setup_state.h"
#include "tests/unit/request_repaint_counter.h"

namespace {

std::u16string_view Shown() { return setupGlobals.progressText.load(); }

class PercentRuleTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetSetupGlobals();
    ResetRepaintRequests();
  }
};

TEST(PercentTexts, HoldsZeroToNinetyNinePercentAndASmileAtOneHundred) {
  ASSERT_EQ(PercentTexts.size(), 101u);
  EXPECT_EQ(std::u16string_view(PercentTexts[0]), u"0%");
  EXPECT_EQ(std::u16string_view(PercentTexts[9]), u"9%");
  EXPECT_EQ(std::u16string_view(PercentTexts[10]), u"10%");
  EXPECT_EQ(std::u16string_view(PercentTexts[57]), u"57%");
  EXPECT_EQ(std::u16string_view(PercentTexts[99]), u"99%");
  EXPECT_EQ(std::u16string_view(PercentTexts[100]), u":)");
  for (const char16_t* text : PercentTexts) EXPECT_NE(std::u16string_view(text), u"100%");
}

TEST(PercentRule, DividesFirstInDoublesThenTruncates) {
  struct Case {
    std::uint32_t progress, total;
    int percent;
  };
  const Case cases[] = {
      {0, 0, 0},        {5, 0, 0},       {0, 100, 0},       {29, 100, 28},
      {57, 100, 56},    {58, 100, 57},   {99, 100, 99},     {999, 1000, 99},
      {100, 100, 100},  {1, 3, 33},      {2, 3, 66},        {1, 1, 100},
      // Counts are unsigned 32-bit words: 2^31 and more are plain sizes.
      {3000000000u, 4000000000u, 75},    {0x80000000u, 0xFFFFFFFFu, 50},
      {0xFFFFFFFFu, 0xFFFFFFFFu, 100},
      // A progress above its total is shown as complete.
      {101, 100, 100},  {0xFFFFFFFFu, 1, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.progress << "/" << c.total);
    EXPECT_EQ(WholePercent(c.progress, c.total), c.percent);
  }
}

TEST(PercentRule, ClampsAnyComputedValueIntoTheTable) {
  struct Case {
    double computed;
    int percent;
  };
  const Case cases[] = {
      {-0.5, 0}, {-1e300, 0}, {0.0, 0},     {0.999, 0},   {99.999, 99},
      {100.0, 100}, {100.5, 100}, {1e300, 100},
      {std::numeric_limits<double>::infinity(), 100},
      {-std::numeric_limits<double>::infinity(), 0},
      {std::nan(""), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.computed);
    EXPECT_EQ(ClampedPercent(c.computed), c.percent);
  }
}

TEST_F(PercentRuleTest, ShowsTheMatchingEntryItselfAndRepaintsOncePerChange) {
  UpdateProgress(29, 100);
  EXPECT_EQ(ShownPercent(), 28);
  EXPECT_EQ(setupGlobals.progressText.load(), PercentTexts[28]);
  EXPECT_EQ(RepaintRequests(), 1);
  UpdateProgress(289, 1000);  // 28.9: the same whole percentage
  EXPECT_EQ(RepaintRequests(), 1);
  UpdateProgress(58, 100);
  EXPECT_EQ(Shown(), u"57%");
  EXPECT_EQ(RepaintRequests(), 2);
  UpdateProgress(100, 100);
  EXPECT_EQ(Shown(), u":)");
  EXPECT_EQ(RepaintRequests(), 3);
}

TEST_F(PercentRuleTest, TotalZeroAtZeroChangesNothing) {
  UpdateProgress(0, 0);
  UpdateProgress(12345, 0);
  EXPECT_EQ(ShownPercent(), 0);
  EXPECT_EQ(setupGlobals.progressText.load(), PercentTexts[0]);
  EXPECT_EQ(RepaintRequests(), 0);
}

// A download that starts over, on its URL or a mirror, keeps the highest
// percentage shown until the new transfer passes it.
TEST_F(PercentRuleTest, NeverGoesBackAndHoldsTheHighestUntilPassed) {
  struct Step {
    std::uint32_t progress, total;
    int shown, repaints;
  };
  const Step steps[] = {
      {40, 100, 40, 1}, {30, 100, 40, 1},  // started over
      {10, 0, 40, 1},                      // an answer of unknown length
      {0, 1000, 40, 1}, {399, 1000, 40, 1}, {410, 1000, 41, 2}, {1000, 1000, 100, 3},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(testing::Message() << step.progress << "/" << step.total);
    UpdateProgress(step.progress, step.total);
    EXPECT_EQ(ShownPercent(), step.shown);
    EXPECT_EQ(RepaintRequests(), step.repaints);
  }
}

TEST_F(PercentRuleTest, FailureTextsOnceUpStayUpWhateverPercentageFollows) {
  UpdateProgress(40, 100);
  setupGlobals.state.store(Failed);
  ShowFailureTexts();
  EXPECT_EQ(std::u16string_view(setupGlobals.headline.load()), u"FAILED TO DOWNLOAD");
  EXPECT_EQ(Shown(), u":(");
  EXPECT_EQ(ShownPercent(), 0);
  EXPECT_EQ(setupGlobals.state.load(), Failed);
  EXPECT_EQ(RepaintRequests(), 2);
  // A worker that read its percentage before the failure went up.
  for (int percent : {40, 41, 0, 100}) EXPECT_FALSE(ShowPercent(percent));
  UpdateProgress(90, 100);
  EXPECT_EQ(Shown(), u":(");
  EXPECT_EQ(RepaintRequests(), 2);
}

}  // namespace
