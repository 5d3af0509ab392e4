#include <gtest/gtest.h>

#include <set>
#include <string>

#include "service/language_choice.h"

namespace {

TEST(ServiceLanguageChoice, WellFormedTags) {
  for (const char* tag : {"de", "DE", "pt-BR", "zh-Hant-TW", "sr-Latn-RS", "de-CH-1996", "gsw", "en-x-pirate"}) {
    EXPECT_TRUE(IsWellFormedLanguageTag(tag)) << tag;
  }
  for (const char* tag : {"", "d", "de-", "-de", "de--at", "de_AT", "1de", "de-abcdefghi", "de at", "*", "d\xC3\xA9",
                          "aaaaaaaa-bbbbbbbb-cccccccc-dddddddd-e"}) {
    EXPECT_FALSE(IsWellFormedLanguageTag(tag)) << tag;
  }
}

TEST(ServiceLanguageChoice, AcceptLanguageTable) {
  struct Case {
    const char* header;
    const char* ranges;  // tag;q in order, space separated
  };
  const Case cases[] = {
      {"de-AT, en;q=0.5", "de-at;1000 en;500"},
      {"en;q=0.5,fr;q=0.9 ,de", "de;1000 fr;900 en;500"},
      {"fr;q=0.8, de;q=0.8", "fr;800 de;800"},
      {"*;q=0.1, ja", "ja;1000 *;100"},
      {"ru;q=0, uk", "uk;1000"},
      {"en;Q=1.000, de;q=0.001", "en;1000 de;1"},
      // Malformed entries are left out, the rest still count.
      {"de;q=1.5, fr;q=0.5.1, es;q=, it;level=1, nl;q=0.1234, pt, ;q=1, , de_AT", "pt;1000"},
      {"", ""},
  };
  for (const auto& test : cases) {
    std::string ranges;
    for (const LanguageRange& range : AcceptedLanguages(test.header)) {
      ranges += (ranges.empty() ? "" : " ") + range.tag + ";" + std::to_string(range.quality);
    }
    EXPECT_EQ(ranges, test.ranges) << test.header;
  }
  // Bounded: past the entry limit nothing more is read, past the byte limit nothing at all.
  std::string many;
  for (std::size_t k = 0; k < kAcceptLanguageEntryLimit; ++k) many += "zz,";
  EXPECT_EQ(AcceptedLanguages(many + "de").size(), kAcceptLanguageEntryLimit);
  EXPECT_TRUE(AcceptedLanguages("de," + std::string(kAcceptLanguageLimit, ' ')).empty());
}

TEST(ServiceLanguageChoice, ChoiceTable) {
  const std::set<std::string> known = {"en", "de", "fr", "pt-br", "zh-hant"};
  const auto isKnown = [&](const std::string& tag) { return known.contains(tag); };
  struct Case {
    const char* name;
    std::optional<std::string> lang, acceptLanguage;
    const char* language;
    bool byAcceptLanguage;
  };
  const Case cases[] = {
      {"the header's first known range, after its region", std::nullopt, "de-AT, en;q=0.5", "de", true},
      {"lang overrides the header", "fr", "de-AT, en;q=0.5", "fr", false},
      {"lang in any case, after subtags", "PT-br-x-foo", std::nullopt, "pt-br", false},
      {"an unknown lang leaves it to the header", "it", "de", "de", true},
      {"a malformed lang leaves it to the header", "de_AT", "fr", "fr", true},
      {"q-values decide, not the order", std::nullopt, "ja, fr;q=0.4, de;q=0.7", "de", true},
      {"a private-use extension is dropped with its singleton", std::nullopt, "zh-Hant-x-tw", "zh-hant", true},
      {"an unknown language gives the default", std::nullopt, "ja, ko", "en", true},
      {"* before known ranges gives the default", std::nullopt, "ja, *;q=0.9, de;q=0.5", "en", true},
      {"no header gives the default, which a cache must vary on", std::nullopt, std::nullopt, "en", true},
      {"an unknown lang and no header", "xx", std::nullopt, "en", true},
  };
  for (const auto& test : cases) {
    const LanguageChoice choice = ChooseLanguage(isKnown, "en", test.lang, test.acceptLanguage);
    EXPECT_EQ(choice.language, test.language) << test.name;
    EXPECT_EQ(choice.byAcceptLanguage, test.byAcceptLanguage) << test.name;
  }
  const LanguageChoice none = ChooseLanguage(isKnown, "", "de", "de");
  EXPECT_EQ(none.language, "");
  EXPECT_FALSE(none.byAcceptLanguage) << "a campaign without tables";
}

}  // namespace
