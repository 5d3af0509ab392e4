// The worker thread's body (Win32 edge). Start-up hands it the tag's download
// URL, or null for the built-in one.
#pragma once

#include <windows.h>

DWORD WINAPI DownloadWorker(LPVOID downloadUrl);
