// Runs the downloaded installer and hands off to the installed application
// (Win32 edge).
#pragma once

#include <windows.h>

#include "state/setup_state.h"

// Creates the three setup folders under LOCALAPPDATA, runs filePath with
// " --silent" without a console and waits for it, then starts Update.exe with
// the deep link that carries launchArgument, the tag's, or null for none (or
// opens the deep link when LOCALAPPDATA is not found). Finished when the
// installer process was created, whatever it exits with; Failed when it could
// not be.
SetupState InstallerRun(const char16_t* filePath, const char16_t* launchArgument);
