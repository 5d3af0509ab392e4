// The window procedure of the setup window.
#pragma once

#include <windows.h>

LRESULT CALLBACK SetupWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// What the window thread does on kWorkerGaveUpMessage: the download failed on
// a stall, and the run ends (EndRun). A later close ends the setup at once.
void GiveUpWorker();
