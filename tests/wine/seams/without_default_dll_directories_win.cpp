// The look-up of the test build that stands for Windows 7 and Server 2008 R2
// without update KB2533623, which lack SetDefaultDllDirectories. Linked ahead
// of the edge library, so the program's own look-up is not.
#include "base/system_library_win.h"

SetDefaultDllDirectoriesFunction LookUpSetDefaultDllDirectories() { return nullptr; }
