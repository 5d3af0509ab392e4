#include "tools/language_tag.h"

namespace {

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool IsWellFormedLanguageTag(std::string_view tag) {
  if (tag.empty() || tag.size() > kLanguageTagLimit || tag.back() == '-') return false;
  bool first = true;
  for (std::string_view rest = tag; !rest.empty(); first = false) {
    const std::size_t hyphen = rest.find('-');
    const std::string_view subtag = rest.substr(0, hyphen);
    rest = hyphen == std::string_view::npos ? std::string_view() : rest.substr(hyphen + 1);
    if (subtag.size() < (first ? 2u : 1u) || subtag.size() > 8) return false;
    for (const char c : subtag) {
      if (!IsLetter(c) && (first || !IsDigit(c))) return false;
    }
  }
  return true;
}
