// Which of a campaign's text tables a download gets: the one the `lang` query
// argument names, else the best the browser's Accept-Language asks for, else
// the campaign's default. BCP 47 tags ignore case: they compare in lower case.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/language_tag.h"

// Browsers send a few dozen bytes; a longer header is ignored, and only its
// first entries are read.
inline constexpr std::size_t kAcceptLanguageLimit = 1024;
inline constexpr std::size_t kAcceptLanguageEntryLimit = 32;

std::string LowerCase(std::string_view text);

struct LanguageRange {
  std::string tag;  // lower case; "*" for any
  int quality;      // q in thousandths, 1 to 1000
};

// The ranges of an Accept-Language value, highest q first and equal ones in
// the order sent. An entry that is not a range with at most a valid q, and
// one with q=0, is left out; a value over the limit gives none.
std::vector<LanguageRange> AcceptedLanguages(std::string_view value);

struct LanguageChoice {
  std::string language;       // a known tag, or the default
  bool byAcceptLanguage = false;  // the header was asked: a cache must vary on it
};

using IsKnownLanguage = std::function<bool(const std::string& lowerCaseTag)>;

// `lang` when given, well formed and known (after dropping subtags from its
// end: de-AT finds de), else the first range of `acceptLanguage` found that
// way, else `defaultLanguage`. A campaign without tables (an empty default)
// never asks the header.
LanguageChoice ChooseLanguage(const IsKnownLanguage& isKnown, const std::string& defaultLanguage,
                              const std::optional<std::string>& lang,
                              const std::optional<std::string>& acceptLanguage);
