#include <gtest/gtest.h>

#include <string>

#include "download/run_ping.h"

namespace {

std::string Ascii(const ComposedText& text) {
  std::string ascii;
  for (std::size_t i = 0; i < text.Length(); ++i) ascii += static_cast<char>(text.Text()[i]);
  return ascii;
}

RunReport SampleReport() {
  RunReport report{};
  report.reason = "http";
  const std::uint32_t numbers[kRunNumberCount] = {404, 0, 0, 1, 0, 0, 1520, 0, 0, 10, 0, 19045};
  std::copy(std::begin(numbers), std::end(numbers), report.numbers);
  report.arch = "x64";
  TakeLanguageTag(u"de-DE", report.uiLanguage);
  const std::uint8_t random[8] = {0x00, 0x1f, 0xa0, 0x5b, 0xc3, 0xd4, 0xe9, 0xff};
  FormatPingId(random, report.id);
  return report;
}

constexpr char kSampleQuery[] =
    "outcome=download_failed&reason=http&detail=404&bytes=0&size=0&attempts=1&resumes=0"
    "&mirror=0&download_ms=1520&installer_ms=0&installer_exit=0&os=10.0.19045&arch=x64"
    "&ui_lang=de-DE&tag_lang=de&version=6.0.0.0&id=001fa05bc3d4e9ff";

TEST(RunPing, TheQueryFollowsTheUrlAfterItsOwnSeparatorWithoutTheFragment) {
  struct Case {
    const char* url;
    const char* before;  // what precedes the query
  };
  const Case cases[] = {
      {"https://p.example/ping", "https://p.example/ping?"},
      {"https://p.example/ping?campaign=spring", "https://p.example/ping?campaign=spring&"},
      {"https://p.example/ping?", "https://p.example/ping?"},
      {"https://p.example/ping?campaign=spring&", "https://p.example/ping?campaign=spring&"},
      {"http://127.0.0.1:8080/ping#frag?x", "http://127.0.0.1:8080/ping?"},
      {"https://p.example/ping?campaign=a#b", "https://p.example/ping?campaign=a&"},
  };
  for (const Case& c : cases) {
    ComposedText ping;
    ASSERT_TRUE(ComposeRunPing(c.url, SampleReport(), RunOutcome::kDownloadFailed, "de", ping))
        << c.url;
    EXPECT_EQ(Ascii(ping), std::string(c.before) + kSampleQuery) << c.url;
  }
}

TEST(RunPing, EachOutcomeAndReasonByItsName) {
  struct Case {
    RunOutcome outcome;
    const char* reason;
    const char* start;
  };
  const Case cases[] = {
      {RunOutcome::kInstalled, nullptr, "?outcome=installed&reason=none&"},
      {RunOutcome::kInstalled, "", "?outcome=installed&reason=none&"},
      {RunOutcome::kDownloadFailed, "refused", "?outcome=download_failed&reason=refused&"},
      {RunOutcome::kPinMismatch, "other", "?outcome=pin_mismatch&reason=other&"},
      {RunOutcome::kInstallerFailed, "other", "?outcome=installer_failed&reason=other&"},
      {RunOutcome::kCancelled, "http", "?outcome=cancelled&reason=http&"},
      {RunOutcome::kStalled, "stall", "?outcome=stalled&reason=stall&"},
  };
  for (const Case& c : cases) {
    RunReport report = SampleReport();
    report.reason = c.reason;
    ComposedText ping;
    ASSERT_TRUE(ComposeRunPing("", report, c.outcome, nullptr, ping));
    EXPECT_EQ(Ascii(ping).substr(0, std::string(c.start).size()), c.start);
    EXPECT_NE(Ascii(ping).find("&tag_lang=&version="), std::string::npos) << "empty, yet given";
  }
}

TEST(RunPing, NumbersInDecimalWithoutSignOrLeadingZero) {
  RunReport report = SampleReport();
  for (std::uint32_t& number : report.numbers) number = 0xFFFFFFFF;
  report.numbers[kOsMajor] = 6;
  report.numbers[kOsMinor] = 1;
  report.numbers[kOsBuild] = 7601;
  ComposedText ping;
  ASSERT_TRUE(ComposeRunPing("h", report, RunOutcome::kInstalled, "de", ping));
  EXPECT_EQ(Ascii(ping),
            "h?outcome=installed&reason=http&detail=4294967295&bytes=4294967295&size=4294967295"
            "&attempts=4294967295&resumes=4294967295&mirror=4294967295&download_ms=4294967295"
            "&installer_ms=4294967295&installer_exit=4294967295&os=6.1.7601&arch=x64"
            "&ui_lang=de-DE&tag_lang=de&version=6.0.0.0&id=001fa05bc3d4e9ff");
}

TEST(RunPing, NoPingWithoutAnArchitectureOrRoomForTheWhole) {
  RunReport report = SampleReport();
  report.arch = nullptr;
  ComposedText ping;
  EXPECT_FALSE(ComposeRunPing("https://p.example/ping", report, RunOutcome::kInstalled, "", ping));

  // The longest values leave room for a ping URL of 500 characters.
  report = SampleReport();
  for (std::uint32_t& number : report.numbers) number = 0xFFFFFFFF;
  std::u16string longestLanguage(kLanguageCapacity - 1, u'a');
  TakeLanguageTag(longestLanguage.c_str(), report.uiLanguage);
  const std::string tagLanguage(35, 'a');
  std::string url = "https://p.example/" + std::string(482, 'p');
  ASSERT_EQ(url.size(), 500u);
  ComposedText fits;
  EXPECT_TRUE(ComposeRunPing(url.c_str(), report, RunOutcome::kInstallerFailed,
                             tagLanguage.c_str(), fits));
  // One that does not fit sends nothing, not a shortened query.
  url += std::string(kComposedCapacity - fits.Length(), 'p');
  ComposedText overflows;
  EXPECT_FALSE(ComposeRunPing(url.c_str(), report, RunOutcome::kInstallerFailed,
                              tagLanguage.c_str(), overflows));
  url.pop_back();
  ComposedText exactly;
  EXPECT_TRUE(ComposeRunPing(url.c_str(), report, RunOutcome::kInstallerFailed,
                             tagLanguage.c_str(), exactly));
  EXPECT_EQ(exactly.Length(), kComposedCapacity - 1);
}

TEST(RunPing, OutcomeByTheEndThenTheStageReached) {
  struct Case {
    RunStage stage;
    RunEnd end;
    RunOutcome outcome;
  };
  const Case cases[] = {
      {RunStage::kDownloading, RunEnd::kEnded, RunOutcome::kDownloadFailed},
      {RunStage::kPinMismatched, RunEnd::kEnded, RunOutcome::kPinMismatch},
      {RunStage::kDownloaded, RunEnd::kEnded, RunOutcome::kInstallerFailed},
      {RunStage::kInstallerStarted, RunEnd::kEnded, RunOutcome::kInstalled},
      // The person's Yes, even while the installer runs.
      {RunStage::kDownloading, RunEnd::kCancelled, RunOutcome::kCancelled},
      {RunStage::kInstallerStarted, RunEnd::kCancelled, RunOutcome::kCancelled},
      {RunStage::kDownloading, RunEnd::kTakenOver, RunOutcome::kStalled},
      {RunStage::kPinMismatched, RunEnd::kTakenOver, RunOutcome::kStalled},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(OutcomeOfRun(c.stage, c.end), c.outcome)
        << static_cast<int>(c.stage) << " " << static_cast<int>(c.end);
  }
}

TEST(RunPing, MachineFactsAsTheServiceReadsThem) {
  EXPECT_STREQ(ArchitectureName(0x014C, 0xFFFF), "x86");
  EXPECT_STREQ(ArchitectureName(0x8664, 0xFFFF), "x64");
  EXPECT_STREQ(ArchitectureName(0xAA64, 0xFFFF), "arm64");
  EXPECT_STREQ(ArchitectureName(0, 0), "x86");
  EXPECT_STREQ(ArchitectureName(0, 9), "x64");
  EXPECT_STREQ(ArchitectureName(0, 12), "arm64");
  EXPECT_EQ(ArchitectureName(0x01C4, 0), nullptr);  // ARMNT
  EXPECT_EQ(ArchitectureName(0, 6), nullptr);       // IA64
  EXPECT_EQ(ArchitectureName(0, 0xFFFF), nullptr);

  struct Case {
    const char16_t* name;
    const char* tag;
  };
  const Case languages[] = {
      {u"en-US", "en-US"}, {u"zh-Hans-CN", "zh-Hans-CN"}, {u"qps-ploc", "qps-ploc"},
      {u"", "und"},        {u"x", "und"},                 {u"de-DE_phoneb", "und"},
      {u"fr&x=1", "und"},  {u"sr-Latn-RS\u00e9", "und"},
  };
  for (const Case& c : languages) {
    char tag[kLanguageCapacity];
    TakeLanguageTag(c.name, tag);
    EXPECT_STREQ(tag, c.tag);
  }
  std::u16string tooLong(kLanguageCapacity, u'a');
  char tag[kLanguageCapacity];
  TakeLanguageTag(tooLong.c_str(), tag);
  EXPECT_STREQ(tag, "und");
}

}  // namespace
