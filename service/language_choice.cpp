#include "service/language_choice.h"

#include <algorithm>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view Trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The text before the first `separator` of `rest`, which moves past it.
std::string_view NextPiece(std::string_view& rest, char separator) {
  const std::size_t at = rest.find(separator);
  const std::string_view piece = rest.substr(0, at);
  rest = at == std::string_view::npos ? std::string_view() : rest.substr(at + 1);
  return piece;
}

// A qvalue: "0" or "1", or either with up to three decimals, 1 no more than
// 1.000.
std::optional<int> Thousandths(std::string_view text) {
  if (text.empty() || (text[0] != '0' && text[0] != '1')) return std::nullopt;
  if (text.size() > 1 && (text[1] != '.' || text.size() > 5)) return std::nullopt;
  int value = (text[0] - '0') * 1000;
  int scale = 100;
  for (const char c : text.substr(std::min<std::size_t>(2, text.size()))) {
    if (!IsDigit(c)) return std::nullopt;
    value += (c - '0') * scale;
    scale /= 10;
  }
  if (value > 1000) return std::nullopt;
  return value;
}

// One entry, "RANGE" or "RANGE;q=VALUE"; any other parameter makes it void.
std::optional<LanguageRange> RangeOf(std::string_view entry) {
  const std::string_view range = Trimmed(NextPiece(entry, ';'));
  if (range != "*" && !IsWellFormedLanguageTag(range)) return std::nullopt;
  int quality = 1000;
  if (!entry.empty()) {
    const std::string_view weight = Trimmed(entry);
    if (!weight.starts_with("q=") && !weight.starts_with("Q=")) return std::nullopt;
    const auto value = Thousandths(weight.substr(2));
    if (!value) return std::nullopt;
    quality = *value;
  }
  return LanguageRange{LowerCase(range), quality};
}

// The known tag that `tag` names, looked up as RFC 4647 does: whole, then
// with a subtag dropped from its end at a time (and a lone one-letter subtag
// with it, which only introduces what followed).
std::optional<std::string> KnownLookup(const IsKnownLanguage& isKnown, std::string tag) {
  while (!tag.empty()) {
    if (isKnown(tag)) return tag;
    std::size_t cut = tag.rfind('-');
    if (cut == std::string::npos) break;
    if (cut >= 2 && tag[cut - 2] == '-') cut -= 2;
    tag.resize(cut);
  }
  return std::nullopt;
}

}  // namespace

std::string LowerCase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

std::vector<LanguageRange> AcceptedLanguages(std::string_view value) {
  std::vector<LanguageRange> ranges;
  if (value.size() > kAcceptLanguageLimit) return ranges;
  for (std::size_t entries = 0; !value.empty() && entries < kAcceptLanguageEntryLimit; ++entries) {
    const auto range = RangeOf(NextPiece(value, ','));
    if (range && range->quality > 0) ranges.push_back(*range);
  }
  std::stable_sort(ranges.begin(), ranges.end(),
                   [](const LanguageRange& a, const LanguageRange& b) { return a.quality > b.quality; });
  return ranges;
}

LanguageChoice ChooseLanguage(const IsKnownLanguage& isKnown, const std::string& defaultLanguage,
                              const std::optional<std::string>& lang,
                              const std::optional<std::string>& acceptLanguage) {
  if (defaultLanguage.empty()) return {};
  if (lang && IsWellFormedLanguageTag(*lang)) {
    if (auto known = KnownLookup(isKnown, LowerCase(*lang))) return {std::move(*known), false};
  }
  if (acceptLanguage) {
    for (const LanguageRange& range : AcceptedLanguages(*acceptLanguage)) {
      if (range.tag == "*") break;
      if (auto known = KnownLookup(isKnown, range.tag)) return {std::move(*known), true};
    }
  }
  return {defaultLanguage, true};
}
