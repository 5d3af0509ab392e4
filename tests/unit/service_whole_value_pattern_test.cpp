#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "service/whole_value_pattern.h"

namespace {

// What the README promises of a pattern: the whole value, its bytes, `.` short
// of CR and LF, `$` only at the end, and the escapes read as JavaScript reads
// them but for PCRE2's own \h, \v and \Q...\E.
TEST(ServiceWholeValuePattern, MatchesTheWholeValueAsBytes) {
  struct Case {
    const char* pattern;
    std::string value;
    bool matches;
  };
  const Case cases[] = {
      {"[A-Za-z0-9]{4,32}", "Abcd1234", true},
      {"[A-Za-z0-9]{4,32}", "Abcd1234!", false},
      {"[A-Za-z0-9]{4,32}", "x Abcd1234", false},
      {"[A-Za-z0-9]{4,32}", "abc", false},
      {"a|ab", "ab", true},  // an earlier alternative that leaves bytes over is not the match
      {"abc$", "abc\n", false},
      {"^abc$", "abc", true},
      {".+", "a\nb", false},
      {".+", "a\rb", false},
      {"(.|\\n){1,600}", "line\nline", true},
      {"(.|\\n){1,600}", std::string(512, 'x'), true},
      {"...", "\xE2\x98\x85", true},  // ★ is three bytes
      {"a.b", std::string("a\0b", 3), true},
      {"\\u0041\\x42", "AB", true},
      {"\\d+-\\w+\\s", "12-ab_3\t", true},
      {"(?=ab)a.", "ab", true},
      {"(a)\\1", "aa", true},
      {"(a)|\\1b", "b", false},  // a reference to a group that took no part
      {"[^]", "\n", true},
      {"\\h", " ", true},
  };
  for (const Case& test : cases) {
    EXPECT_EQ(WholeValuePattern(test.pattern).Matches(test.value), test.matches) << test.pattern;
  }
}

TEST(ServiceWholeValuePattern, RefusesBadPatternsAndBoundsRunaways) {
  for (const char* pattern : {"[", "(", "a{2,1}", "(*UTF)a", "(*UCP)\\w"}) {
    EXPECT_THROW(WholeValuePattern{pattern}, std::invalid_argument) << pattern;
  }
  // Exponential backtracking: refused after the step limit, not after years.
  EXPECT_FALSE(WholeValuePattern("(\\w|\\w\\w)+$").Matches(std::string(511, 'a') + "!"));
}

}  // namespace
