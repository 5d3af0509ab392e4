#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "base/fixed_text.h"
#include "download/handoff_commands.h"

namespace {

std::u16string_view View(const ComposedText& text) { return {text.Text(), text.Length()}; }

std::u16string Repeat(char16_t unit, std::size_t count) { return std::u16string(count, unit); }

TEST(HandoffFixedText, AppendsWhileItFitsAndRefusesAWholeAppendThatDoesNot) {
  FixedText<8> text;
  EXPECT_TRUE(text.Append(u"abc"));
  EXPECT_TRUE(text.Append(u""));
  EXPECT_TRUE(text.Append(u"defg"));  // 7 units and the NUL fill all 8
  EXPECT_EQ(std::u16string_view(text.Text()), u"abcdefg");
  EXPECT_FALSE(text.Append(u"h"));
  EXPECT_EQ(std::u16string_view(text.Text()), u"abcdefg");
  EXPECT_EQ(text.Length(), 7u);

  FixedText<4> small;
  EXPECT_FALSE(small.Append(u"abcd"));
  EXPECT_EQ(small.Length(), 0u);
  EXPECT_EQ(std::u16string_view(small.Text()), u"");
}

TEST(HandoffFixedText, ReadsAStringAtAnOddAddress) {
  alignas(2) unsigned char bytes[11] = {};
  const char16_t source[] = u"ab\"c";
  std::memcpy(bytes + 1, source, sizeof source - 2);  // four units, then the zero bytes
  FixedText<16> text;
  EXPECT_TRUE(text.Append(reinterpret_cast<const char16_t*>(bytes + 1)));
  EXPECT_EQ(std::u16string_view(text.Text()), u"ab\"c");
}

TEST(Handoff, LocalAppDataCountsOnlyWhenTheReadFitTheBuffer) {
  EXPECT_FALSE(LocalAppDataFound(0));  // missing or empty
  EXPECT_TRUE(LocalAppDataFound(1));
  EXPECT_TRUE(LocalAppDataFound(259));  // 259 units, NUL in the last slot
  EXPECT_FALSE(LocalAppDataFound(260));  // needs 260 units and a NUL
  EXPECT_FALSE(LocalAppDataFound(261));
  EXPECT_FALSE(LocalAppDataFound(0xFFFFFFFFu));
}

std::vector<std::u16string> FoldersFor(const char16_t* localAppData, bool* complete = nullptr) {
  std::vector<std::u16string> folders;
  bool done = ForEachSetupFolder(localAppData, [&](const char16_t* folder) { folders.push_back(folder); });
  if (complete) *complete = done;
  return folders;
}

TEST(Handoff, CreatesTheThreeFoldersEachInsideThePrevious) {
  bool complete = false;
  EXPECT_EQ(FoldersFor(u"C:\\L", &complete),
            (std::vector<std::u16string>{u"C:\\L\\Zorva", u"C:\\L\\Zorva\\packages",
                                         u"C:\\L\\Zorva\\packages\\SquirrelTemp"}));
  EXPECT_TRUE(complete);
  EXPECT_EQ(FoldersFor(u"C:\\Users\\Ann Lee\\AppData\\Local").back(),
            u"C:\\Users\\Ann Lee\\AppData\\Local\\Zorva\\packages\\SquirrelTemp");
}

TEST(Handoff, TheLongestFolderValueStillFits) {
  std::u16string longest = u"C:\\" + Repeat(u'a', 256);  // 259 units
  bool complete = false;
  auto folders = FoldersFor(longest.c_str(), &complete);
  EXPECT_TRUE(complete);
  ASSERT_EQ(folders.size(), 3u);
  EXPECT_EQ(folders[2], longest + u"\\Zorva\\packages\\SquirrelTemp");
}

TEST(Handoff, AFolderPathThatCannotFitStopsBeforeIt) {
  std::u16string tooLong = Repeat(u'a', kComposedCapacity - 1 - 6 - 9);  // room for \Zorva\packages
  bool complete = true;
  auto folders = FoldersFor(tooLong.c_str(), &complete);
  EXPECT_FALSE(complete);
  EXPECT_EQ(folders.size(), 2u);
}

TEST(Handoff, InstallerCommandLineQuotesThePathAndAddsSilent) {
  struct Case {
    const char16_t* path;
    const char16_t* commandLine;
  };
  const Case cases[] = {
      {u"C:\\dl\\setup.exe", u"\"C:\\dl\\setup.exe\" --silent"},
      {u"C:\\Users\\Ann Lee\\AppData\\Local\\ZorvaSetup\\ZorvaInstaller.exe",
       u"\"C:\\Users\\Ann Lee\\AppData\\Local\\ZorvaSetup\\ZorvaInstaller.exe\" --silent"},
      {u"", u"\"\" --silent"},
  };
  for (const Case& c : cases) {
    ComposedText commandLine;
    EXPECT_TRUE(ComposeInstallerCommandLine(c.path, commandLine));
    EXPECT_EQ(View(commandLine), c.commandLine);
  }
  std::u16string longest = u"C:\\" + Repeat(u'p', 256);
  ComposedText commandLine;
  EXPECT_TRUE(ComposeInstallerCommandLine(longest.c_str(), commandLine));
  EXPECT_EQ(View(commandLine), u"\"" + longest + u"\" --silent");
}

TEST(Handoff, TheInstallerIsWrittenInAFolderOfTheSetupsOwnBesideTheProducts) {
  InstallerLocation location;
  ASSERT_TRUE(ComposeInstallerLocation(u"C:\\Users\\Ann Lee\\AppData\\Local", 4294967295u, location));
  EXPECT_EQ(View(location.folder), u"C:\\Users\\Ann Lee\\AppData\\Local\\ZorvaSetup");
  EXPECT_EQ(View(location.file),
            u"C:\\Users\\Ann Lee\\AppData\\Local\\ZorvaSetup\\ZorvaInstaller-4294967295.exe");
  // The longest value the environment read accepts still fits.
  const std::u16string longest = u"C:\\" + Repeat(u'l', 256);
  InstallerLocation deep;
  EXPECT_TRUE(ComposeInstallerLocation(longest.c_str(), 0, deep));
  EXPECT_EQ(View(deep.file), longest + u"\\ZorvaSetup\\ZorvaInstaller-0.exe");
  // The pattern a new run looks for earlier runs' files by matches them.
  EXPECT_EQ(std::u16string_view(kAnyRunsInstaller), u"\\ZorvaInstaller-*.exe");
}

TEST(Handoff, LaunchesUpdateExeOrOpensTheBareDeepLinkWithTheArgumentVerbatim) {
  const char16_t* local = u"C:\\Users\\Ann Lee\\AppData\\Local";
  const char16_t* launcher = u"C:\\Users\\Ann Lee\\AppData\\Local\\Zorva\\Update.exe";
  struct Case {
    const char16_t* localAppData;
    const char16_t* launchArgument;
    const char16_t* file;
    const char16_t* parameters;  // null: none are passed
  };
  const Case cases[] = {
      {local, u"abc", launcher, u"--processStart \"Zorva.exe\" --process-start-args \"zorva://abc\""},
      {local, nullptr, launcher, u"--processStart \"Zorva.exe\" --process-start-args \"zorva://\""},
      {local, u"", launcher, u"--processStart \"Zorva.exe\" --process-start-args \"zorva://\""},
      {local, u"say \"hi\" to/a b?c=%20", launcher,
       u"--processStart \"Zorva.exe\" --process-start-args \"zorva://say \"hi\" to/a b?c=%20\""},
      {nullptr, u"abc", u"zorva://abc", nullptr},
      {nullptr, nullptr, u"zorva://", nullptr},
      {nullptr, u"", u"zorva://", nullptr},
      {nullptr, u"say \"hi\" to/a b", u"zorva://say \"hi\" to/a b", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.localAppData ? "launcher" : "deep link") << ", "
                                    << (c.launchArgument ? "with argument" : "null"));
    HandOff handOff;
    EXPECT_TRUE(ComposeHandOff(c.localAppData, c.launchArgument, handOff));
    EXPECT_EQ(View(handOff.file), c.file);
    EXPECT_EQ(handOff.hasParameters, c.parameters != nullptr);
    if (c.parameters) {
      EXPECT_EQ(View(handOff.parameters), c.parameters);
    }
  }
}

TEST(Handoff, TheLongestInputsFitAndAnImpossibleArgumentIsRefusedNotCut) {
  std::u16string longestFolder = u"C:\\" + Repeat(u'f', 256);
  std::u16string longestArgument = Repeat(u'x', 383);
  HandOff handOff;
  EXPECT_TRUE(ComposeHandOff(longestFolder.c_str(), longestArgument.c_str(), handOff));
  EXPECT_TRUE(View(handOff.parameters).ends_with(u"zorva://" + longestArgument + u"\""));

  std::u16string impossible = Repeat(u'x', kComposedCapacity);
  HandOff refused;
  EXPECT_FALSE(ComposeHandOff(longestFolder.c_str(), impossible.c_str(), refused));
  HandOff refusedLink;
  EXPECT_FALSE(ComposeHandOff(nullptr, impossible.c_str(), refusedLink));
}

}  // namespace
