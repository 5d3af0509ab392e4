// The probes' output: one "name=value" line on stdout, texts in UTF-8.
#pragma once

#include <windows.h>

#include <cstdio>

inline void PrintText(const char* name, const char16_t* text) {
  char bytes[4096];
  WideCharToMultiByte(CP_UTF8, 0, reinterpret_cast<const wchar_t*>(text), -1, bytes, sizeof bytes,
                      nullptr, nullptr);
  std::printf("%s=%s\n", name, bytes);
}
