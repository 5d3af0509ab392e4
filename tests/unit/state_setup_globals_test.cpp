#include <gtest/gtest.h>

#include <cstdint>

#include "download/download_progress.h"
#include "shell/shell_globals.h"
#include "splash/accessible_splash.h"
#include "splash/splash_look.h"
#include "state/percent_texts.h"
#include "state/setup_state.h"
#include "tag/setup_tag.h"
#include "tests/unit/request_repaint_counter.h"

namespace {

class SetupGlobalsTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetSetupGlobals();
    ResetShellGlobals();
    ResetRepaintRequests();
  }
};

TEST_F(SetupGlobalsTest, StartsWithTheDefaultsAndProgressTextIsTheTablesFirstEntry) {
  EXPECT_EQ(setupGlobals.state.load(), Idle);
  EXPECT_EQ(ShownPercent(), 0);
  EXPECT_EQ(std::u16string_view(setupGlobals.headline.load()), u"INSTALLING ZORVA");
  // The very pointer of entry 0, not a copy of "0%".
  EXPECT_EQ(setupGlobals.progressText.load(), PercentTexts[0]);
  EXPECT_EQ(setupGlobals.workerFinished.load(), 0);
  EXPECT_EQ(setupGlobals.window.load(), nullptr);
  EXPECT_EQ(reinterpret_cast<std::intptr_t>(shellGlobals.workerThread.load()), -1);
  EXPECT_EQ(setupGlobals.dpi.load(), 96);
  EXPECT_EQ(splashLook.backgroundColor, 0xFF242424u);
  EXPECT_EQ(splashLook.textColor, 0xFFD9D9D9u);
  EXPECT_EQ(splashLook.hintColor, 0xFFB3B3B3u);
  EXPECT_EQ(splashLook.tileImage.load(), nullptr);
  EXPECT_EQ(splashLook.logoImage.load(), nullptr);
  EXPECT_EQ(shellGlobals.inProgressObject.load(), nullptr);
  EXPECT_EQ(setupGlobals.shareKnown.load(), 0);
}

TagFields Texts(const char16_t* headline, const char16_t* failure, const char16_t* hint,
                const char16_t* question, const char16_t* title) {
  TagFields fields{};
  fields.headline = headline;
  fields.failureText = failure;
  fields.hint = hint;
  fields.cancelQuestion = question;
  fields.cancelTitle = title;
  return fields;
}

// Absent, a text stays the built-in English; present, even empty, the tag's
// text is shown, spoken and asked, the failure headline once the download fails.
TEST_F(SetupGlobalsTest, TagTextsReplaceTheBuiltInOnesTheyCarry) {
  struct Case {
    const char* name;
    TagFields tag;
    std::u16string_view headline, failure, hint, question, title;
  };
  const Case cases[] = {
      {"no tag", Texts(nullptr, nullptr, nullptr, nullptr, nullptr), u"INSTALLING ZORVA",
       u"FAILED TO DOWNLOAD", u"PLEASE WAIT WHILE THE REQUIRED\r\nFILES ARE DOWNLOADED",
       u"Are you sure you want to cancel the setup?", u"Zorva Setup"},
      {"every text",
       Texts(u"ZORVA WIRD INSTALLIERT", u"DOWNLOAD FEHLGESCHLAGEN",
             u"BITTE WARTEN\nDATEIEN WERDEN GELADEN", u"Abbrechen?", u"Zorva-Einrichtung"),
       u"ZORVA WIRD INSTALLIERT", u"DOWNLOAD FEHLGESCHLAGEN",
       u"BITTE WARTEN\nDATEIEN WERDEN GELADEN", u"Abbrechen?", u"Zorva-Einrichtung"},
      {"empty texts", Texts(nullptr, u"", u"", nullptr, u""), u"INSTALLING ZORVA", u"", u"",
       u"Are you sure you want to cancel the setup?", u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetSetupGlobals();
    ResetShellGlobals();
    TakeTagTexts(c.tag);
    EXPECT_EQ(std::u16string_view(setupGlobals.headline.load()), c.headline);
    AccessibleAnswer room;
    EXPECT_EQ(std::u16string_view(AccessibleText(AccessibleProperty::kDescription, room)), c.hint);
    EXPECT_EQ(std::u16string_view(shellGlobals.cancelQuestion.load()), c.question);
    EXPECT_EQ(std::u16string_view(shellGlobals.cancelTitle.load()), c.title);
    ShowFailureTexts();
    EXPECT_EQ(std::u16string_view(AccessibleText(AccessibleProperty::kName, room)), c.failure);
  }
}

TEST_F(SetupGlobalsTest, CancelTurnsOnlyDownloadingIntoCancelled) {
  struct Case {
    SetupState before;
    SetupState after;
  };
  const Case cases[] = {
      {Idle, Idle},         {Downloading, Cancelled}, {Cancelled, Cancelled},
      {Failed, Failed},     {Downloaded, Downloaded}, {Finished, Finished},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.before);
    setupGlobals.state.store(c.before);
    CancelSetup();
    EXPECT_EQ(setupGlobals.state.load(), c.after);
  }
}

TEST_F(SetupGlobalsTest, CancelChangesNoTextAndRequestsNoRepaint) {
  setupGlobals.state.store(Downloading);
  setupGlobals.progressText.store(PercentTexts[40]);
  CancelSetup();
  EXPECT_EQ(ShownPercent(), 40);
  EXPECT_EQ(setupGlobals.progressText.load(), PercentTexts[40]);
  EXPECT_EQ(std::u16string_view(setupGlobals.headline.load()), u"INSTALLING ZORVA");
  EXPECT_EQ(RepaintRequests(), 0);
}

TEST_F(SetupGlobalsTest, ResetUndoesEveryWrite) {
  setupGlobals.state.store(Failed);
  setupGlobals.watchdogThread.store(&setupGlobals);
  setupGlobals.failureClass.store(FailureClass::kDisk);
  setupGlobals.headline.store(u"X");
  setupGlobals.progressText.store(PercentTexts[7]);
  setupGlobals.workerFinished.store(1);
  setupGlobals.dpi.store(144);
  shellGlobals.inProgressObject.store(&setupGlobals);
  ResetSetupGlobals();
  ResetShellGlobals();
  EXPECT_EQ(setupGlobals.state.load(), Idle);
  EXPECT_EQ(ShownPercent(), 0);
  EXPECT_EQ(std::u16string_view(setupGlobals.headline.load()), u"INSTALLING ZORVA");
  EXPECT_EQ(setupGlobals.progressText.load(), PercentTexts[0]);
  EXPECT_EQ(setupGlobals.workerFinished.load(), 0);
  EXPECT_EQ(setupGlobals.dpi.load(), 96);
  EXPECT_EQ(shellGlobals.inProgressObject.load(), nullptr);
}

}  // namespace
