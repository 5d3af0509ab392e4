#include "download/internet_functions_win.h"

#include "base/system_function_win.h"
#include "base/system_library_win.h"

bool LookUpInternet(InternetFunctions& internet) {
  // First the library WinINet brings in that is no KnownDLL, so that where
  // Windows cannot restrict the search no load of it by name looks in the
  // exe's folder. Only the look-ups are tested; a failed load makes them fail
  // too. The modules stay loaded.
  PreloadSystemLibraries({u"mpr.dll"});
  const HMODULE wininet = LoadSystemLibrary(u"wininet.dll");
  internet = {LookUpFunction<decltype(&InternetOpenW)>(wininet, "InternetOpenW"),
              LookUpFunction<decltype(&InternetSetOptionW)>(wininet, "InternetSetOptionW"),
              LookUpFunction<decltype(&InternetOpenUrlW)>(wininet, "InternetOpenUrlW"),
              LookUpFunction<decltype(&HttpQueryInfoW)>(wininet, "HttpQueryInfoW"),
              LookUpFunction<decltype(&InternetReadFile)>(wininet, "InternetReadFile"),
              LookUpFunction<decltype(&InternetCloseHandle)>(wininet, "InternetCloseHandle")};
  return internet.open != nullptr && internet.setOption != nullptr && internet.openUrl != nullptr &&
         internet.query != nullptr && internet.read != nullptr && internet.close != nullptr;
}
