#include "splash/gdiplus_flat.h"

#include "shell/system_function.h"

GdiplusFunctions gdiplus{};

namespace {
bool gdiplusLoaded = false;
}  // namespace

bool LoadGdiplus() {
  HMODULE module = LoadLibraryExW(L"gdiplus.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module == nullptr) return false;
  bool complete = true;
#define ZORVA_GDIPLUS_RESOLVE(name, result, parameters)          \
  gdiplus.name = LookUpFunction<decltype(gdiplus.name)>(module, #name); \
  complete = complete && gdiplus.name != nullptr;
  ZORVA_GDIPLUS_FUNCTIONS(ZORVA_GDIPLUS_RESOLVE)
#undef ZORVA_GDIPLUS_RESOLVE
  gdiplusLoaded = complete;
  return complete;
}

bool GdiplusLoaded() { return gdiplusLoaded; }
