#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>

#include "download/binding_status.h"
#include "download/download_url.h"
#include "download/percent_texts.h"
#include "shell/setup_globals.h"
#include "tests/unit/request_repaint_counter.h"

namespace {

class DownloadStatusTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetSetupGlobals();
    ResetRepaintRequests();
    attemptReport = {};
  }
};

TEST(DownloadStatusResults, AreTheSystemsHresultWords) {
  EXPECT_EQ(static_cast<std::uint32_t>(binding_result::kOk), 0u);
  EXPECT_EQ(static_cast<std::uint32_t>(binding_result::kNotImplemented), 0x80004001u);
  EXPECT_EQ(static_cast<std::uint32_t>(binding_result::kNoInterface), 0x80004002u);
  EXPECT_EQ(static_cast<std::uint32_t>(binding_result::kAbort), 0x80004004u);
}

TEST_F(DownloadStatusTest, ProgressWhileDownloadingRunsThePercentRule) {
  setupGlobals.state.store(Downloading);
  EXPECT_EQ(AnswerProgress(58, 100), binding_result::kOk);
  EXPECT_EQ(std::u16string_view(setupGlobals.progressText.load()), u"57%");
  EXPECT_EQ(RepaintRequests(), 1);
  EXPECT_EQ(setupGlobals.state.load(), Downloading);
}

TEST_F(DownloadStatusTest, ProgressInAnyOtherStateAbortsAndChangesNothing) {
  for (SetupState state : {Idle, Cancelled, Failed, Downloaded, Finished}) {
    SCOPED_TRACE(state);
    setupGlobals.state.store(Downloading);
    AnswerProgress(40, 100);
    ResetRepaintRequests();
    setupGlobals.state.store(state);
    EXPECT_EQ(AnswerProgress(90, 100), binding_result::kAbort);
    EXPECT_EQ(setupGlobals.progressText.load(), PercentTexts[40]);
    EXPECT_EQ(setupGlobals.percent.load(), 40);
    EXPECT_EQ(setupGlobals.state.load(), state);
    EXPECT_EQ(RepaintRequests(), 0);
  }
}

TEST_F(DownloadStatusTest, StopBindingMovesAnyStateByTheResultsSign) {
  struct Case {
    std::int32_t result;
    SetupState after;
  };
  const Case cases[] = {
      {0, Downloaded},
      {1, Downloaded},  // S_FALSE: a success code
      {0x7FFFFFFF, Downloaded},
      {binding_result::kAbort, Failed},
      {static_cast<std::int32_t>(0x800C0005u), Failed},  // INET_E_RESOURCE_NOT_FOUND
      {INT32_MIN, Failed},
  };
  for (const Case& c : cases) {
    for (SetupState before : {Idle, Downloading, Cancelled, Failed, Downloaded, Finished}) {
      SCOPED_TRACE(testing::Message() << c.result << " from " << before);
      setupGlobals.state.store(before);
      EXPECT_EQ(AnswerStopBinding(c.result), binding_result::kNotImplemented);
      EXPECT_EQ(setupGlobals.state.load(), c.after);
    }
  }
}

TEST_F(DownloadStatusTest, ACancelIsOverwrittenByALaterEndOfTransfer) {
  setupGlobals.state.store(Downloading);
  CancelSetup();
  ASSERT_EQ(setupGlobals.state.load(), Cancelled);
  EXPECT_EQ(AnswerProgress(10, 100), binding_result::kAbort);
  AnswerStopBinding(binding_result::kAbort);
  EXPECT_EQ(setupGlobals.state.load(), Failed);

  setupGlobals.state.store(Downloading);
  CancelSetup();
  AnswerStopBinding(binding_result::kOk);
  EXPECT_EQ(setupGlobals.state.load(), Downloaded);
}

TEST(DownloadUrl, NullSelectsTheBuiltInUrlAndAnyTagUrlIsKeptEvenEmpty) {
  EXPECT_EQ(ChooseDownloadUrl(nullptr), kDefaultDownloadUrl);
  EXPECT_EQ(std::u16string_view(kDefaultDownloadUrl).substr(0, 8), u"https://");
  EXPECT_TRUE(std::u16string_view(kDefaultDownloadUrl).ends_with(u"/client/download"));
  const char16_t tagUrl[] = u"http://127.0.0.1:8/x.exe";
  EXPECT_EQ(ChooseDownloadUrl(tagUrl), tagUrl);
  const char16_t empty[] = u"";
  EXPECT_EQ(ChooseDownloadUrl(empty), empty);
}

}  // namespace
