#include "download/internet_lookup_win.h"

#include <atomic>

#include "base/system_functions_win.h"
#include "base/system_library_win.h"

namespace {

std::atomic<bool> internetFound{false};

}  // namespace

bool LookUpInternet() {
  // First the library WinINet brings in that is no KnownDLL, so that where
  // Windows cannot restrict the search no load of it by name looks in the
  // exe's folder. The modules stay loaded.
  PreloadSystemLibraries({u"mpr.dll"});
  const bool found =
      LookUpSystemFunctions(SystemModule::kWininet, LoadSystemLibrary(u"wininet.dll"));
  if (found) internetFound.store(true, std::memory_order_release);
  return found;
}

bool InternetFound() { return internetFound.load(std::memory_order_acquire); }
