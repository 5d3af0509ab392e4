// The portable code's UTF-16 strings as the system's wide strings (Win32
// edge): the one place where char16_t becomes wchar_t, right at the call.
#pragma once

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the Windows builds have 16-bit wchar_t");

inline const wchar_t* SystemText(const char16_t* text) {
  return reinterpret_cast<const wchar_t*>(text);
}

inline wchar_t* SystemText(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }
