#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>

#include "download/download_progress.h"
#include "splash/accessible_splash.h"
#include "state/setup_state.h"
#include "tests/unit/request_repaint_counter.h"

namespace {

std::u16string_view Text(AccessibleProperty property) { return AccessibleText(property); }

class AccessibleSplashTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetSetupGlobals();
    ResetRepaintRequests();
  }
};

// Each answer is what the worker has put on the splash at the moment it is asked.
TEST_F(AccessibleSplashTest, NameIsTheHeadlineValueTheProgressTextDescriptionTheHint) {
  const char16_t tagHeadline[] = u"WELCOME, ADA";
  setupGlobals.headline.store(tagHeadline);
  EXPECT_EQ(Text(AccessibleProperty::kName), u"WELCOME, ADA");
  EXPECT_EQ(Text(AccessibleProperty::kValue), u"0%");
  EXPECT_EQ(Text(AccessibleProperty::kDescription),
            u"PLEASE WAIT WHILE THE REQUIRED\r\nFILES ARE DOWNLOADED");
  UpdateProgress(37, 100);
  EXPECT_EQ(Text(AccessibleProperty::kValue), u"37%");
  UpdateProgress(100, 100);
  EXPECT_EQ(Text(AccessibleProperty::kValue), u":)");
  ShowFailureTexts();
  EXPECT_EQ(Text(AccessibleProperty::kName), u"FAILED TO DOWNLOAD");
  EXPECT_EQ(Text(AccessibleProperty::kValue), u":(");
  EXPECT_EQ(Text(AccessibleProperty::kDescription),
            u"PLEASE WAIT WHILE THE REQUIRED\r\nFILES ARE DOWNLOADED");
}

TEST_F(AccessibleSplashTest, EachChangedTextCallsForItsEventHeadlineFirst) {
  const AnnouncedTexts start = ShownTexts();
  UpdateProgress(5, 10);
  const AnnouncedTexts moved = ShownTexts();
  ShowFailureTexts();
  const AnnouncedTexts failed = ShownTexts();
  const AnnouncedTexts renamed{failed.headline, moved.progressText};
  struct Case {
    const char* change;
    AnnouncedTexts announced, shown;
    std::uint32_t first, second;
  };
  const Case cases[] = {
      {"nothing", start, start, kNoEvent, kNoEvent},
      {"a percentage", start, moved, kNoEvent, kValueChangeEvent},
      {"the headline alone", moved, renamed, kNameChangeEvent, kNoEvent},
      {"the failure", moved, failed, kNameChangeEvent, kValueChangeEvent},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.change);
    const TextChangeEvents change = EventsForChange(c.announced, c.shown);
    EXPECT_EQ(change.events[0], c.first);
    EXPECT_EQ(change.events[1], c.second);
  }
}

}  // namespace
