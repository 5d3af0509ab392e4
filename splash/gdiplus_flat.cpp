#include "splash/gdiplus_flat.h"

#include <cstring>
#include <iterator>

#include "shell/system_function.h"

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
  HMODULE module = LoadLibraryExW(L"gdiplus.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module == nullptr) return false;
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
