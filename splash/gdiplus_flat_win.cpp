#include "splash/gdiplus_flat_win.h"

#include <cstring>
#include <iterator>

#include "base/system_function_win.h"
#include "base/system_library_win.h"

GdiplusFunctions gdiplus{};

namespace {

bool gdiplusLoaded = false;

constexpr const char* kFunctionNames[] = {
#define ZORVA_GDIPLUS_NAME(name, result, parameters) #name,
    ZORVA_GDIPLUS_FUNCTIONS(ZORVA_GDIPLUS_NAME)
#undef ZORVA_GDIPLUS_NAME
};

using AnyFunction = void (*)();
// The table is a run of function pointers in the order of the names, which
// lets one loop fill it instead of one look-up per member.
static_assert(sizeof(GdiplusFunctions) == std::size(kFunctionNames) * sizeof(AnyFunction));

}  // namespace

bool LoadGdiplus() {
  HMODULE module = LoadSystemLibrary(u"gdiplus.dll");
  if (module == nullptr) return false;
  // GDI+ loads the imaging codecs by bare name at its first image decode,
  // right after start-up. Under Wine that load looks in the exe's folder
  // first, SetDefaultDllDirectories or not, as does any load where Windows 7
  // lacks the function. Loaded from the system folder now, the codecs (after
  // the one library of theirs that is no KnownDLL) are found by name instead.
  PreloadSystemLibraries({u"propsys.dll", u"windowscodecs.dll"});
  AnyFunction functions[std::size(kFunctionNames)];
  for (std::size_t i = 0; i < std::size(kFunctionNames); ++i) {
    functions[i] = LookUpFunction<AnyFunction>(module, kFunctionNames[i]);
    if (functions[i] == nullptr) return false;
  }
  std::memcpy(&gdiplus, functions, sizeof gdiplus);
  gdiplusLoaded = true;
  return true;
}

bool GdiplusLoaded() { return gdiplusLoaded; }
