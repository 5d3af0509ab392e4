// The setup tag: a signed 1024-byte trailer at the end of the program's own
// file that carries up to eight UTF-16 strings and up to five ASCII ones.
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
  // The link text of the fallback page; absent, the built-in English.
  const char16_t* fallbackText;
  // Each null when absent, otherwise a NUL-terminated string of ASCII 0x21 to
  // 0x7E inside the trailer buffer. The mirrors are tried after downloadUrl,
  // in order; the second is null when there is only one.
  const char* mirrorUrls[2];
  const char* fallbackPage;   // opened after a failure, exactly as signed
  const char* pingUrl;        // the end of a run is reported here; absent, nothing is sent
  const char* textsLanguage;  // the BCP 47 tag of the tag's texts, such as "de"
};

// Reads, verifies and walks the trailer on the first call only; every call
// returns the same record. Win32 edge (tag/).
const TagFields& ReadSetupTag();
