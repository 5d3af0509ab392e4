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

TEST(ServiceRunPing, EachFieldAtItsBounds) {
  struct Case {
    const char* name;
    std::vector<std::string> accepted, refused;
  };
  const Case cases[] = {
      {"outcome", {"stalled", "pin_mismatch"}, {"Installed", "installed\n"}},
      {"reason", {"proxy_auth", "other"}, {"", "none "}},
      {"detail", {"4294967295", "0"}, {"4294967296", "-1", "+1", "012", "1e3", "99999999999999999999"}},
      {"bytes", {"1099511627776"}, {"1099511627777"}},
      {"attempts", {"100"}, {"101", " 1"}},
      {"mirror", {"2"}, {"3"}},
      {"download_ms", {"604800000"}, {"604800001", ""}},
      {"installer_exit", {"3221225477"}, {"4294967296"}},
      {"os", {"6.1.7601", "10.0.0"}, {"10.0", "10.0.1.2", "100.0.1", "10.0.1234567", "10..1", "10.0.1."}},
      {"arch", {"arm64"}, {"amd64"}},
      {"ui_lang", {"zh-Hant-TW"}, {"", "de_AT"}},
      {"tag_lang", {"fr", ""}, {"f"}},
      {"version", {"1", "12345.1.2.3"}, {"1.2.3.4.5", "1.2-beta", "123456", "1.", std::string("1\0", 2)}},
      {"id", {"ffffffffffffffff"}, {"0123456789ABCDEF", "0123456789abcde", "0x23456789abcdef"}},
      {"campaign", {"a_b-C9"}, {"a\"}\nb", "", std::string(65, 'a')}},
  };
  for (const Case& test : cases) {
    for (const std::string& value : test.accepted) {
      EXPECT_TRUE(CheckRunPing(With(test.name, value)).ping) << test.name << "=" << value;
    }
    for (const std::string& value : test.refused) {
      EXPECT_EQ(CheckRunPing(With(test.name, value)).refusal, std::string(test.name) + " is malformed or out of range")
          << test.name << "=" << value;
    }
  }
}

TEST(ServiceRunPing, AnOsBeyondTheKnownVersionsIsOther) {
  EXPECT_EQ(CheckRunPing(With("os", "10.0.22631")).ping->osMajorMinor, "10.0");
  EXPECT_EQ(CheckRunPing(With("os", "6.0.6002")).ping->osMajorMinor, "other");
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
