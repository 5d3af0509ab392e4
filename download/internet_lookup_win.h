// WinINet's functions in the one table (base/system_functions_win.h), for
// the worker and the run ping (Win32 edge).
#pragma once

// Who asks, in every request: the product, nothing of the machine's.
inline constexpr wchar_t kUserAgent[] = L"Zorva Setup";

// Loads WinINet from the system folder and looks its functions up; true
// when every one was found. The worker calls it as its download begins; the
// run ping only while InternetFound is false, so that a worker still inside
// a WinINet call never meets the table being written.
bool LookUpInternet();

// Whether a LookUpInternet found every function.
bool InternetFound();
