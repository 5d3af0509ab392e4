#include "base/system_function_win.h"
#include "base/system_library_win.h"

SetDefaultDllDirectoriesFunction LookUpSetDefaultDllDirectories() {
  // kernel32 is in every process; GetModuleHandle loads nothing.
  return LookUpFunction<SetDefaultDllDirectoriesFunction>(GetModuleHandleW(L"kernel32.dll"),
                                                          "SetDefaultDllDirectories");
}
