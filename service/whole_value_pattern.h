// A parameter's pattern, compiled once when the config is loaded, that a
// request's decoded value must match as a whole. PCRE2 in its byte mode,
// set up to read patterns as ECMAScript does: `.` matches no CR or LF, `$`
// only the very end, `[^]` any byte, `\uhhhh` and `\xhh` as there, and a
// reference to a group that took part in no match matches the empty string.
// Matching is bounded: a pattern that backtracks without end on a value
// fails that value instead of holding its thread.
#pragma once

#include <memory>
#include <string>
#include <string_view>

class WholeValuePattern {
 public:
  // Throws std::invalid_argument for a pattern PCRE2 cannot compile.
  explicit WholeValuePattern(const std::string& pattern);

  // Safe from any number of threads at once.
  bool Matches(std::string_view value) const;

 private:
  struct Compiled;
  std::shared_ptr<const Compiled> compiled_;  // shared by the config's copies
};
