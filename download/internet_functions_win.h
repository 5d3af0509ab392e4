// WinINet's functions the worker and the run ping call, looked up at run time
// from the system folder (Win32 edge).
#pragma once

#include <windows.h>
#include <wininet.h>

// Who asks: the product, no version or anything of the machine's.
inline constexpr wchar_t kUserAgent[] = L"Zorva Setup";

struct InternetFunctions {
  decltype(&InternetOpenW) open;
  decltype(&InternetSetOptionW) setOption;
  decltype(&InternetOpenUrlW) openUrl;
  decltype(&HttpQueryInfoW) query;
  decltype(&InternetReadFile) read;
  decltype(&InternetCloseHandle) close;
};

// Loads WinINet and fills `internet`; false unless every function was found.
// Each thread that calls WinINet keeps a table of its own.
bool LookUpInternet(InternetFunctions& internet);
