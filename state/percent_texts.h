// The 101 progress texts, indexed by the whole percentage: "0%" ... "99%", and
// ":)" at 100 (a hundred with a percent sign is never shown).
#pragma once

#include <array>

namespace percent_texts_detail {

struct Storage {
  char16_t text[101][4];
};

constexpr Storage MakeStorage() {
  Storage storage{};
  for (int i = 0; i < 100; ++i) {
    char16_t* out = storage.text[i];
    if (i >= 10) *out++ = static_cast<char16_t>(u'0' + i / 10);
    *out++ = static_cast<char16_t>(u'0' + i % 10);
    *out = u'%';
  }
  storage.text[100][0] = u':';
  storage.text[100][1] = u')';
  return storage;
}

inline constexpr Storage kStorage = MakeStorage();

constexpr std::array<const char16_t*, 101> MakeTable() {
  std::array<const char16_t*, 101> table{};
  for (int i = 0; i <= 100; ++i) table[i] = kStorage.text[i];
  return table;
}

}  // namespace percent_texts_detail

inline constexpr std::array<const char16_t*, 101> PercentTexts = percent_texts_detail::MakeTable();
