#include "base/system_library_win.h"

#include "base/fixed_text.h"
#include "base/system_path.h"
#include "base/system_text_win.h"

void RestrictDllSearchToSystemFolder() {
  if (SetDefaultDllDirectoriesFunction restrict = LookUpSetDefaultDllDirectories())
    restrict(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

HMODULE LoadSystemLibrary(const char16_t* name) {
  char16_t folder[kSystemPathCapacity];
  // The folder's length without its NUL when it fits, else the size it needs.
  const UINT length = GetSystemDirectoryW(SystemText(folder), kSystemPathCapacity);
  if (length == 0 || length >= kSystemPathCapacity) return nullptr;
  FixedText<kSystemPathCapacity> path;
  if (!path.Append(folder) || !path.Append(u"\\") || !path.Append(name)) return nullptr;
  return LoadLibraryW(SystemText(path.Text()));
}

void PreloadSystemLibraries(std::initializer_list<const char16_t*> names) {
  // Each stays loaded for the life of the process, as the DLL that needs it does.
  for (const char16_t* name : names) LoadSystemLibrary(name);
}
