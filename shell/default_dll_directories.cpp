#include "shell/system_function.h"
#include "shell/system_library.h"

SetDefaultDllDirectoriesFunction LookUpSetDefaultDllDirectories() {
  // kernel32 is in every process; GetModuleHandle loads nothing.
  return LookUpFunction<SetDefaultDllDirectoriesFunction>(GetModuleHandleW(L"kernel32.dll"),
                                                          "SetDefaultDllDirectories");
}
