// Runs the downloaded installer and hands off to the installed application
// (Win32 edge).
#pragma once

#include "download/download_url.h"
#include "shell/setup_globals.h"

// When `request` carries a pin, first opens filePath so that nobody can
// write to it or delete it, and fails, starting nothing, unless its SHA-256 is
// the pinned one; the file stays open until the installer's process exists.
// Then creates the three setup folders under LOCALAPPDATA, runs filePath with
// " --silent" without a console and waits for it, then starts Update.exe with
// the deep link that carries launchArgument, the tag's, or null for none (or
// opens the deep link when LOCALAPPDATA is not found). Finished when the
// installer process was created, whatever it exits with; Failed when it could
// not be.
SetupState InstallerRun(const char16_t* filePath, const DownloadRequest& request,
                        const char16_t* launchArgument);
