// A function of a system DLL found by name at run time.
#pragma once

#include <windows.h>

// The function `name` of `module` as a pointer of type Function, or null when
// the module lacks it.
template <typename Function>
Function LookUpFunction(HMODULE module, const char* name) {
  // GetProcAddress returns a generic pointer; going through void (*)(), the
  // type that stands for any function, makes the conversion deliberate.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}
