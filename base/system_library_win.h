// System DLLs taken from the system folder only (Win32 edge). The exe runs
// from Downloads, where a DLL planted under a system DLL's name would
// otherwise be found first.
#pragma once

#include <windows.h>

#include <initializer_list>

// Makes every later load by bare name, those inside system DLLs included,
// search the system folder only. Windows 7 and Server 2008 R2 offer the means
// only with update KB2533623; without it, nothing changes, and the loads
// below by full path still keep the exe's folder out.
void RestrictDllSearchToSystemFolder();

// SetDefaultDllDirectories, or null where this Windows lacks it. Alone in its
// file, so the test build can stand in a Windows without it.
using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD directoryFlags);
SetDefaultDllDirectoriesFunction LookUpSetDefaultDllDirectories();

// `name` (as u"gdiplus.dll") loaded by its full path in the system folder, so
// that no search order is involved on any Windows; null when it cannot be.
HMODULE LoadSystemLibrary(const char16_t* name);

// Loads each of `names` from the system folder ahead of a system DLL that
// loads them by bare name later on: a load by name finds a module of that
// name already loaded and takes it, on Windows and under Wine alike. A name
// this Windows lacks is passed over.
void PreloadSystemLibraries(std::initializer_list<const char16_t*> names);
