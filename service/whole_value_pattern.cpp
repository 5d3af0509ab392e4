#include "service/whole_value_pattern.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <cstdint>
#include <new>
#include <stdexcept>

namespace {

// Bytes, not UTF-8 (a value is matched as the bytes it decodes to), and no
// pattern can switch that on. Anchored at both ends: the whole value.
constexpr std::uint32_t kCompileOptions = PCRE2_ANCHORED | PCRE2_ENDANCHORED | PCRE2_NEVER_UTF | PCRE2_NEVER_UCP |
                                          PCRE2_DOLLAR_ENDONLY | PCRE2_ALT_BSUX | PCRE2_ALLOW_EMPTY_CLASS;

// A value holds 512 bytes at most; a pattern that needs more steps than this
// on one has run away.
constexpr std::uint32_t kMatchLimit = 1'000'000;
constexpr std::uint32_t kHeapLimitKibibytes = 4096;

pcre2_compile_context* CompileContext() {
  static pcre2_compile_context* const context = [] {
    pcre2_compile_context* made = pcre2_compile_context_create(nullptr);
    if (made == nullptr) throw std::bad_alloc();
    pcre2_set_newline(made, PCRE2_NEWLINE_ANYCRLF);  // `.` stops at CR as at LF
    return made;
  }();
  return context;
}

pcre2_match_context* MatchContext() {
  static pcre2_match_context* const context = [] {
    pcre2_match_context* made = pcre2_match_context_create(nullptr);
    if (made == nullptr) throw std::bad_alloc();
    pcre2_set_match_limit(made, kMatchLimit);
    pcre2_set_heap_limit(made, kHeapLimitKibibytes);
    return made;
  }();
  return context;
}

// Each thread's match data, kept between requests with the backtracking
// memory PCRE2 grows in it. One pair of offsets: only whether it matched
// counts.
pcre2_match_data* ThreadMatchData() {
  struct Owned {
    pcre2_match_data* data = pcre2_match_data_create(1, nullptr);
    ~Owned() { pcre2_match_data_free(data); }
  };
  thread_local const Owned owned;
  if (owned.data == nullptr) throw std::bad_alloc();
  return owned.data;
}

}  // namespace

struct WholeValuePattern::Compiled {
  explicit Compiled(pcre2_code* compiled) : code(compiled) {}
  Compiled(const Compiled&) = delete;
  Compiled& operator=(const Compiled&) = delete;
  ~Compiled() { pcre2_code_free(code); }
  pcre2_code* const code;
};

WholeValuePattern::WholeValuePattern(const std::string& pattern) {
  int error = 0;
  PCRE2_SIZE offset = 0;
  pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), kCompileOptions,
                                   &error, &offset, CompileContext());
  if (code == nullptr) {
    PCRE2_UCHAR message[120];
    pcre2_get_error_message(error, message, sizeof message);
    throw std::invalid_argument(reinterpret_cast<const char*>(message));
  }
  compiled_ = std::make_shared<const Compiled>(code);
}

// A run past the limits is no match: the value is refused, as one that
// fails its pattern.
bool WholeValuePattern::Matches(std::string_view value) const {
  return pcre2_match(compiled_->code, reinterpret_cast<PCRE2_SPTR>(value.data()), value.size(), 0, 0,
                     ThreadMatchData(), MatchContext()) >= 0;
}
