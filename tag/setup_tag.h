// The setup tag: a signed 1024-byte trailer at the end of the program's own
// file that carries up to seven UTF-16 strings.
#pragma once

struct TagFields {
  // Each null when absent, otherwise a NUL-terminated UTF-16 string inside the
  // static trailer buffer. Strings may begin at an odd address: read them
  // unit by unit through memcpy in portable code.
  const char16_t* headline;
  const char16_t* launchArgument;
  const char16_t* downloadUrl;
  // The splash's texts in the person's language; absent, the built-in English.
  const char16_t* failureText;
  const char16_t* hint;
  const char16_t* cancelQuestion;
  const char16_t* cancelTitle;
};

// Reads, verifies and walks the trailer on the first call only; every call
// returns the same record. Win32 edge (tag/).
const TagFields& ReadSetupTag();
