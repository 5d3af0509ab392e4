#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "service/run_ping.h"

namespace {

using Query = std::vector<std::pair<std::string, std::string>>;

Query FullPing() {
  return {{"campaign", "invite"}, {"outcome", "installed"}, {"reason", "none"}, {"detail", "0"},
          {"bytes", "52428800"},  {"size", "52428800"},     {"attempts", "1"},  {"resumes", "0"},
          {"mirror", "0"},        {"download_ms", "12500"}, {"installer_ms", "30000"},
          {"installer_exit", "0"}, {"os", "10.0.19045"},    {"arch", "x64"},    {"ui_lang", "de-AT"},
          {"tag_lang", ""},       {"version", "1.2.0"},     {"id", "0123456789abcdef"}};
}

Query With(const std::string& name, const std::string& value) {
  Query query = FullPing();
  for (auto& [key, old] : query) {
    if (key == name) old = value;
  }
  return query;
}

TEST(ServiceRunPing, AFullPingKeepsItsLabelsAndNumbers) {
  const PingCheck check = CheckRunPing(FullPing());
  ASSERT_TRUE(check.ping) << check.refusal;
  EXPECT_EQ(check.ping->campaign, "invite");
  EXPECT_EQ(check.ping->osMajorMinor, "10.0");
  EXPECT_EQ(check.ping->arch, "x64");
  EXPECT_EQ(check.ping->bytes, 52428800u);
  EXPECT_EQ(check.ping->downloadMs, 12500u);
  EXPECT_EQ(check.ping->id, 0x0123456789abcdefu);
  EXPECT_TRUE(DownloadedWhole(*check.ping));
}

TEST(ServiceRunPing, EachFieldAtItsBounds) {
  struct Case {
    const char* name;
    const char* value;
    bool accepted;
  };
  const Case cases[] = {
      {"outcome", "stalled", true},          {"outcome", "Installed", false},
      {"reason", "proxy_auth", true},        {"reason", "", false},
      {"detail", "4294967295", true},        {"detail", "4294967296", false},
      {"detail", "-1", false},               {"detail", "+1", false},
      {"detail", "012", false},              {"detail", "1e3", false},
      {"bytes", "1099511627776", true},      {"bytes", "1099511627777", false},
      {"size", "99999999999999999999", false}, {"attempts", "100", true},
      {"attempts", "101", false},            {"resumes", " 1", false},
      {"mirror", "2", true},                 {"mirror", "3", false},
      {"download_ms", "604800000", true},    {"download_ms", "604800001", false},
      {"installer_ms", "", false},           {"installer_exit", "3221225477", true},
      {"os", "6.1.7601", true},              {"os", "10.0", false},
      {"os", "10.0.1.2", false},             {"os", "100.0.1", false},
      {"os", "10.0.1234567", false},         {"os", "10..1", false},
      {"arch", "arm64", true},               {"arch", "amd64", false},
      {"ui_lang", "zh-Hant-TW", true},       {"ui_lang", "", false},
      {"ui_lang", "de_AT", false},           {"tag_lang", "fr", true},
      {"tag_lang", "f", false},              {"version", "1", true},
      {"version", "12345.1.2.3", true},      {"version", "1.2.3.4.5", false},
      {"version", "1.2-beta", false},        {"version", "123456", false},
      {"id", "ffffffffffffffff", true},      {"id", "0123456789ABCDEF", false},
      {"id", "0123456789abcde", false},      {"id", "0x23456789abcdef", false},
      {"campaign", "a_b-C9", true},          {"campaign", "a\"}\nb", false},
      {"campaign", "", false},               {"campaign", std::string(65, 'a').c_str(), false},
  };
  for (const Case& test : cases) {
    const PingCheck check = CheckRunPing(With(test.name, test.value));
    EXPECT_EQ(check.ping.has_value(), test.accepted) << test.name << "=" << test.value << ": " << check.refusal;
    if (!test.accepted) {
      EXPECT_EQ(check.refusal, std::string(test.name) + " is malformed or out of range");
    }
  }
}

TEST(ServiceRunPing, OnlyTheKnownFieldsEachOnceAndAllButTheCampaign) {
  Query extra = FullPing();
  extra.emplace_back("user", "ann");
  Query twice = FullPing();
  twice.emplace_back("outcome", "installed");
  Query noCampaign = FullPing();
  noCampaign.erase(noCampaign.begin());
  Query noId = FullPing();
  noId.pop_back();
  EXPECT_EQ(CheckRunPing(extra).refusal, "an unknown parameter");
  EXPECT_EQ(CheckRunPing(twice).refusal, "outcome is given twice");
  EXPECT_EQ(CheckRunPing(noId).refusal, "id is missing");
  ASSERT_TRUE(CheckRunPing(noCampaign).ping);
  EXPECT_EQ(CheckRunPing(noCampaign).ping->campaign, "");
  EXPECT_EQ(CheckRunPing(With("os", "6.0.6002")).ping->osMajorMinor, "other");
  EXPECT_FALSE(DownloadedWhole(*CheckRunPing(With("outcome", "download_failed")).ping));
}

TEST(ServiceRunPing, AnIdCountsOncePerWindowAndTheOldestMakesRoom) {
  using namespace std::chrono_literals;
  const auto start = std::chrono::steady_clock::time_point() + 1h;
  RecentPingIds recent(3, 60s);
  EXPECT_TRUE(recent.FirstSeen(1, start));
  EXPECT_FALSE(recent.FirstSeen(1, start + 59s));
  EXPECT_TRUE(recent.FirstSeen(1, start + 60s)) << "the window has passed";
  for (std::uint64_t id : {2, 3, 4}) EXPECT_TRUE(recent.FirstSeen(id, start + 61s));
  EXPECT_TRUE(recent.FirstSeen(1, start + 62s)) << "dropped for 4, the oldest past capacity";
  EXPECT_FALSE(recent.FirstSeen(4, start + 62s));
}

}  // namespace
