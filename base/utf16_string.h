// Reading a NUL-terminated UTF-16 string at any address. The setup tag's
// strings may begin at an odd address, so portable code never dereferences
// their char16_t pointers: each unit is fetched through memcpy, which is valid
// at any alignment.
#pragma once

#include <cstddef>
#include <cstring>

inline char16_t ReadUtf16Unit(const char16_t* text, std::size_t index) {
  char16_t unit;
  std::memcpy(&unit, reinterpret_cast<const unsigned char*>(text) + index * sizeof unit, sizeof unit);
  return unit;
}

// The number of units before the zero unit.
inline std::size_t Utf16Length(const char16_t* text) {
  std::size_t length = 0;
  while (ReadUtf16Unit(text, length) != 0) ++length;
  return length;
}

// Copies the string and its zero unit into `destination`, which holds
// `capacity` units. Returns false, and copies nothing, when it does not fit.
inline bool CopyUtf16String(const char16_t* text, char16_t* destination, std::size_t capacity) {
  const std::size_t units = Utf16Length(text) + 1;
  if (units > capacity) return false;
  std::memcpy(destination, text, units * sizeof(char16_t));
  return true;
}
