// The setup's taskbar button (Win32 edge): the download's progress through
// the shell's ITaskbarList3 once the shell says the button exists, and a
// flash when the download fails while the splash is in the background. Every
// call on the list is made on the window's thread, which owns it.
#pragma once

#include <windows.h>

// Registers the shell's "TaskbarButtonCreated" message and lets it through
// to `window` when the setup runs elevated and the shell does not. Start-up
// calls it once the window shows: the shell makes the button then.
void ListenForTaskbarButton(HWND window);

// Any thread: tells the window that the setup state may have changed. Posted,
// since a minimised window gets no WM_PAINT, and the button matters most
// while the splash is out of sight.
void TellTaskbarButtonOfChange();

// The window procedure's part: true when `message` was the change above or
// the shell's "TaskbarButtonCreated", now handled. The first time the shell
// speaks, COM is loaded from the system folder and the list made; nothing of
// either is loaded before.
bool AnswerTaskbarMessage(HWND hwnd, UINT message);

// The cancel question opens (`up`) or closes with the setup going on.
void ShowCancelQuestionOnTaskbar(HWND hwnd, bool up);

// The window goes: the button shows no progress any more.
void ClearTaskbarButton(HWND hwnd);
