// Opens the installer's file (Win32 edge). A unit of its own, so that a test
// build can stand in for it and hold the run at one of its opens.
#pragma once

#include <windows.h>

// The file at `path`, opened for `access` and shared as `share` allows, or
// nullptr, GetLastError telling why.
HANDLE OpenInstallerFile(const char16_t* path, DWORD access, DWORD share, DWORD disposition);
