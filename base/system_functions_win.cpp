#include "base/system_functions_win.h"

#include <cstring>
#include <iterator>

#include "base/system_function_win.h"
#include "base/system_library_win.h"

SystemFunctions systemFunctions{};

namespace {

struct Entry {
  SystemModule module;
  const char* name;
};

constexpr Entry kEntries[] = {
#define ZORVA_SYSTEM_ENTRY(module, name) {SystemModule::module, #name},
    ZORVA_SYSTEM_FUNCTIONS(ZORVA_SYSTEM_ENTRY)
#undef ZORVA_SYSTEM_ENTRY
};

using AnyFunction = void (*)();
// The table is a run of function pointers in the order of the entries, which
// lets one loop fill it instead of one look-up per member.
static_assert(sizeof(SystemFunctions) == std::size(kEntries) * sizeof(AnyFunction));

}  // namespace

bool LookUpSystemFunctions(SystemModule module, HMODULE handle) {
  // GetProcAddress with no module would look in the exe itself.
  if (handle == nullptr) return false;
  bool found = true;
  for (std::size_t i = 0; i < std::size(kEntries); ++i) {
    if (kEntries[i].module != module) continue;
    const AnyFunction function = LookUpFunction<AnyFunction>(handle, kEntries[i].name);
    found = found && function != nullptr;
    std::memcpy(reinterpret_cast<char*>(&systemFunctions) + i * sizeof function, &function,
                sizeof function);
  }
  return found;
}

bool LookUpShell() {
  return LookUpSystemFunctions(SystemModule::kShell32, LoadSystemLibrary(u"shell32.dll"));
}
