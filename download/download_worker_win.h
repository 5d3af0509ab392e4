// The worker thread's body (Win32 edge). Start-up hands it what the setup tag
// says; the worker reads nothing of the tag itself.
#pragma once

#include <windows.h>

struct WorkerInputs {
  const char16_t* downloadUrl;     // null: the built-in URL
  const char16_t* launchArgument;  // null: the deep link carries none
};

// Downloads, installs and hands off; then marks the worker finished and
// either sends the window its close (success) or puts up the failure texts.
// `inputs` points to WorkerInputs that outlive the thread.
DWORD WINAPI DownloadWorker(LPVOID inputs);

// Downloads url and runs the installer, which hands launchArgument on; true
// only when `state` reached Finished. The installer file is gone when it
// returns.
bool DownloadInstaller(const char16_t* url, const char16_t* launchArgument);
