// The worker thread's body (Win32 edge). Start-up hands it the tag's download
// URL, or null for the built-in one.
#pragma once

#include <windows.h>

// Downloads, installs and hands off; then marks the worker finished and
// either sends the window its close (success) or puts up the failure texts.
DWORD WINAPI DownloadWorker(LPVOID downloadUrl);

// Downloads url and runs the installer; true only when `state` reached
// Finished.
bool DownloadInstaller(const char16_t* url);
