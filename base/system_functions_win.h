// The functions the exe finds by name at run time instead of importing them:
// one table, filled one module at a time when a step first needs it.
//
// What is imported and what is looked up:
// - Imported: every function of kernel32, user32, gdi32 and shlwapi that
//   every supported Windows (7 and later) has, and advapi32's RtlGenRandom
//   (SystemFunction036) for the run ping's id. Those DLLs are KnownDLLs,
//   mapped from the system folder into every process before the exe's first
//   instruction (advapi32 as shlwapi's import), so an import costs no load
//   and no search of any folder.
// - Looked up, here: the functions of a DLL that the exe loads itself, by
//   its full path in the system folder, only when a step needs it (WinINet
//   for the download; shell32 to open the installed application or the
//   fallback page: a large DLL that start-up would otherwise map and
//   initialise for a call at the run's end; oleacc, ole32 and oleaut32 once
//   assistive technology asks for the window's object; ole32 once the shell
//   has made the taskbar button), the functions that some supported Windows
//   lacks (GetDpiForWindow, GetDpiForMonitor, IsWow64Process2): an import of
//   those would keep the exe from starting there at all.
// GDI+, loaded the same way for the painter, has a table of its own beside
// the painter (splash/gdiplus_flat_win.h), since no header here declares its
// flat functions; SetDefaultDllDirectories is looked up before anything
// else, alone in its file for the test build of a Windows without it.
#pragma once

#include <windows.h>
#include <oleacc.h>
#include <shellapi.h>
#include <shellscalingapi.h>
#include <wininet.h>

// Where a function is looked up: a DLL LoadSystemLibrary loads, or one
// already among the process's modules (shcore only where something loaded it).
enum class SystemModule : unsigned char {
  kWininet,
  kShell32,
  kOleacc,
  kOle32,
  kOleaut32,
  kUser32,
  kShcore,
  kKernel32,
};

// module, name
#define ZORVA_SYSTEM_FUNCTIONS(X) \
  X(kWininet, InternetOpenW)      \
  X(kWininet, InternetSetOptionW) \
  X(kWininet, InternetOpenUrlW)   \
  X(kWininet, HttpSendRequestW)   \
  X(kWininet, InternetErrorDlg)   \
  X(kWininet, InternetQueryOptionW) \
  X(kWininet, HttpQueryInfoW)     \
  X(kWininet, InternetReadFile)   \
  X(kWininet, InternetCloseHandle) \
  X(kShell32, ShellExecuteW)      \
  X(kOleacc, CreateStdAccessibleObject) \
  X(kOleacc, LresultFromObject)   \
  X(kOle32, CoInitialize)         \
  X(kOle32, CoCreateInstance)     \
  X(kOleaut32, SysAllocString)    \
  X(kUser32, GetDpiForWindow)     \
  X(kShcore, GetDpiForMonitor)    \
  X(kKernel32, IsWow64Process2)

struct SystemFunctions {
#define ZORVA_SYSTEM_POINTER(module, name) decltype(&::name) name;
  ZORVA_SYSTEM_FUNCTIONS(ZORVA_SYSTEM_POINTER)
#undef ZORVA_SYSTEM_POINTER
};

// The process's own pseudo-handle, which GetCurrentProcess returns, without
// the call.
inline const HANDLE kThisProcess = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));

// Each pointer is null until LookUpSystemFunctions has found it.
extern SystemFunctions systemFunctions;

// Looks up every function of `module` in `handle`, the module's handle (null
// when it is not there: its functions stay null). True when each was found.
bool LookUpSystemFunctions(SystemModule module, HMODULE handle);

// Loads shell32 from the system folder and looks up its functions. Its
// callers, the hand-off on the worker and the fallback page's link on the
// window's thread, never meet: the one follows a success, the other a
// failure.
bool LookUpShell();
