// The window procedure of the setup window.
#pragma once

#include <windows.h>

LRESULT CALLBACK SetupWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
