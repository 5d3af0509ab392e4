// A UTF-16 string in a fixed array, for the exe's composed paths and command
// lines: no heap, and an append that does not fit is refused whole instead of
// being cut, so a caller never passes a silently shortened path to the system.
#pragma once

#include <cstddef>
#include <cstring>

#include "base/utf16_string.h"

template <std::size_t Capacity>  // code units, the terminating NUL included
class FixedText {
  static_assert(Capacity > 0);

 public:
  // Appends all of the NUL-terminated `text` and returns true, or leaves the
  // string unchanged and returns false when it would not fit. `text` may sit
  // at an odd address (the tag's strings do): it is read through memcpy only.
  bool Append(const char16_t* text) {
    std::size_t count = Utf16Length(text);
    if (count >= Capacity - length_) return false;
    std::memcpy(units_ + length_, text, count * sizeof(char16_t));
    length_ += count;
    units_[length_] = u'\0';
    return true;
  }

  // Appends the first `count` bytes of the ASCII `text`, one unit each, or
  // leaves the string unchanged and returns false when they would not fit.
  bool AppendAscii(const char* text, std::size_t count) {
    if (count >= Capacity - length_) return false;
    for (std::size_t i = 0; i < count; ++i) units_[length_++] = static_cast<unsigned char>(text[i]);
    units_[length_] = u'\0';
    return true;
  }

  const char16_t* Text() const { return units_; }
  // Writable for the process-creation call, which may write into its command line.
  char16_t* WritableText() { return units_; }
  std::size_t Length() const { return length_; }

 private:
  char16_t units_[Capacity] = {};
  std::size_t length_ = 0;
};
