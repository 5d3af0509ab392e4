#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "download/download_progress.h"
#include "splash/accessible_splash.h"
#include "splash/fallback_link.h"
#include "state/setup_state.h"
#include "tests/unit/request_repaint_counter.h"

namespace {

AccessibleAnswer room;

std::u16string_view Text(AccessibleProperty property) {
  const char16_t* text = AccessibleText(property, room);
  return text != nullptr ? text : u"<none>";
}

class AccessibleSplashTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetSetupGlobals();
    ResetRepaintRequests();
    fallbackLink = FallbackLink{nullptr, nullptr};
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

// The link is there only after a failure, in a copy that names a page: the
// description then ends with its text on a line of its own, its text names
// the default action, and that action opens exactly the signed page.
TEST_F(AccessibleSplashTest, AFailureWithAFallbackPageOffersItsLink) {
  const char16_t germanHint[] = u"BITTE WARTEN\nDATEIEN WERDEN GELADEN";
  const char16_t germanLink[] = u"VOLLSTÄNDIGES INSTALLATIONSPROGRAMM";
  const std::u16string_view englishHint = kDefaultHint;
  struct Case {
    const char* name;
    const char* page;
    const char16_t* linkText;
    const char16_t* hint;
    bool failed;
    std::u16string_view description, action, opened;
  };
  const Case cases[] = {
      {"no page: nothing changes", nullptr, nullptr, kDefaultHint, true, englishHint, u"<none>",
       u"<none>"},
      {"a page, before the failure", "https://example.com/full", nullptr, kDefaultHint, false,
       englishHint, u"<none>", u"<none>"},
      {"a page, after the failure: the built-in text", "https://example.com/full", nullptr,
       kDefaultHint, true,
       u"PLEASE WAIT WHILE THE REQUIRED\r\nFILES ARE DOWNLOADED\r\nDOWNLOAD THE FULL INSTALLER",
       u"DOWNLOAD THE FULL INSTALLER", u"https://example.com/full"},
      {"the tag's texts, a page opened as signed", "HTTP://Example.com/a?b=%C3%A4#x", germanLink,
       germanHint, true,
       u"BITTE WARTEN\nDATEIEN WERDEN GELADEN\r\nVOLLSTÄNDIGES INSTALLATIONSPROGRAMM",
       germanLink, u"HTTP://Example.com/a?b=%C3%A4#x"},
      {"an empty hint", "http://p/", nullptr, u"", true, u"\r\nDOWNLOAD THE FULL INSTALLER",
       u"DOWNLOAD THE FULL INSTALLER", u"http://p/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetSetupGlobals();
    fallbackLink = FallbackLink{c.page, c.linkText};
    setupGlobals.hint.store(c.hint);
    if (c.failed) ShowFailureTexts();
    EXPECT_EQ(Text(AccessibleProperty::kDescription), c.description);
    EXPECT_EQ(Text(AccessibleProperty::kDefaultAction), c.action);
    char16_t page[kFallbackPageCapacity];
    EXPECT_EQ(FallbackPageToOpen(page) ? std::u16string_view(page) : u"<none>", c.opened);
  }
}

// Any page the payload can hold is opened whole; one the room could not
// hold is not opened at all, never cut.
TEST_F(AccessibleSplashTest, APageIsOpenedWholeOrNotAtAll) {
  ShowFailureTexts();
  char16_t page[kFallbackPageCapacity];
  for (const std::size_t length : {kFallbackPageCapacity - 1, kFallbackPageCapacity}) {
    SCOPED_TRACE(length);
    const std::string url = "https://" + std::string(length - 8, 'a');
    fallbackLink = FallbackLink{url.c_str(), nullptr};
    const bool opened = FallbackPageToOpen(page);
    EXPECT_EQ(opened, length < kFallbackPageCapacity);
    if (opened) {
      EXPECT_EQ(std::u16string(page), std::u16string(url.begin(), url.end()));
    }
  }
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
