// Loads a DLL by bare name with the default search order, which looks in the
// program's own folder first: the control that shows a planted DLL would be
// picked up by a program that does not restrict its search.
//   dll_loader NAME     exit code 0 when loaded, 1 when not
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 1;
  return LoadLibraryW(argv[1]) != nullptr ? 0 : 1;
}
