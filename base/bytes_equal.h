// Whether two byte ranges hold the same bytes.
#pragma once

#include <cstddef>

// Compares every byte, whatever the first difference, so the time taken tells
// nothing about where a forged installer first differs; and it needs no
// memcmp, which the exe does not import.
inline bool BytesEqual(const void* a, const void* b, std::size_t count) {
  const unsigned char* x = static_cast<const unsigned char*>(a);
  const unsigned char* y = static_cast<const unsigned char*>(b);
  unsigned char difference = 0;
  for (std::size_t i = 0; i < count; ++i) difference |= x[i] ^ y[i];
  return difference == 0;
}
