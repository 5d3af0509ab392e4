// Start-up steps of the setup window and its worker.
#pragma once

#include <windows.h>

#include "download/download_worker_win.h"

// The window's class, by which a later start finds it.
inline constexpr char kWindowClass[] = "ZorvaSetupWindow";
// The window's title; the cancel question's built-in caption is the same.
inline constexpr char kWindowTitle[] = "Zorva Setup";

// Invalidates the whole setup window with erase: the repaint hook start-up
// sets.
void InvalidateSetupWindow();

// Finds GetDpiForWindow and GetDpiForMonitor in modules already loaded; none
// is loaded for the purpose. Either may stay missing.
void LookUpDpiFunctions();

// Registers the window class and creates the hidden, borderless 400 x 500
// window at 0, 0. Null on failure.
HWND CreateSetupWindow(HINSTANCE instance);

// The DPI of the setup window: by window, else by monitor, else the screen's.
int QueryWindowDpi();

// Sizes the window for `dpi` and centres it on the full screen.
void PlaceSetupWindow(HWND window, int dpi);

// Starts the worker with `inputs`, which must outlive it, and keeps its
// handle. When the thread cannot be created, the run ends on the failure
// texts at once.
void StartWorker(const WorkerInputs& inputs);

// CreateThread for the worker; null when it fails. Alone in its file, so a
// test build can stand in a system that refuses the thread.
HANDLE CreateWorkerThread(LPTHREAD_START_ROUTINE body, void* inputs);

// Ends the run on the failure texts, on the window thread: they go up, the
// worker counts as finished (a close asks nothing) and the in-progress
// object goes, so a later start closes this window and runs.
void EndRun();
