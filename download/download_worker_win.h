// The worker thread's body (Win32 edge). Start-up hands it what the setup tag
// says; the worker reads nothing of the tag itself.
#pragma once

#include <windows.h>

struct WorkerInputs {
  const char16_t* downloadUrl;     // null: the built-in URL
  const char16_t* launchArgument;  // null: the deep link carries none
  const char* mirrorUrls[2];       // the tag's, tried after downloadUrl; null when absent
};

// How a download ended: the installer held checked, a failure or a cancel
// (`state` tells them apart), or given up by the watchdog, after which the
// worker touches nothing more.
enum class DownloadEnd { kHeld, kFailed, kTakenOver };

// The worker's body: downloads, installs and hands off; then marks the worker
// finished and either sends the window its close (success) or puts up the
// failure texts, and returns true. False, having done none of that, when the
// watchdog took the download over: the window thread then ends the run.
bool DownloadWorker(const WorkerInputs& inputs);

// Downloads the installer from the URLs of `inputs` and runs it, handing the
// launch argument on; `state` is Finished when all went well. Unless taken
// over, the installer file is gone when it returns.
DownloadEnd DownloadInstaller(const WorkerInputs& inputs);
