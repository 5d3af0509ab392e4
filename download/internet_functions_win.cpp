#include "download/internet_functions_win.h"

#include <cstring>

#include "base/system_library_win.h"

namespace {

// InternetFunctions' members, in their order, each name ended by its NUL.
constexpr char kInternetFunctionNames[] =
    "InternetOpenW\0InternetSetOptionW\0InternetOpenUrlW\0HttpQueryInfoW\0InternetReadFile\0"
    "InternetCloseHandle\0";
constexpr int kInternetFunctionCount = 6;
static_assert(sizeof(InternetFunctions) == kInternetFunctionCount * sizeof(FARPROC));

}  // namespace

bool LookUpInternet(InternetFunctions& internet) {
  // First the library WinINet brings in that is no KnownDLL, so that where
  // Windows cannot restrict the search no load of it by name looks in the
  // exe's folder. Only the look-ups are tested; a failed load makes them fail
  // too. The modules stay loaded.
  PreloadSystemLibraries({u"mpr.dll"});
  const HMODULE wininet = LoadSystemLibrary(u"wininet.dll");
  FARPROC found[kInternetFunctionCount];
  const char* name = kInternetFunctionNames;
  bool all = true;
  for (FARPROC& function : found) {
    function = GetProcAddress(wininet, name);
    all &= function != nullptr;
    name += std::strlen(name) + 1;
  }
  // Each found pointer becomes the member of its function's own type.
  std::memcpy(&internet, found, sizeof found);
  return all;
}
