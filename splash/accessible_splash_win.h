// The splash as assistive technology meets it (Win32 edge): the client area
// answers as a progress bar named by the headline, whose value is the
// progress text and whose description is the hint, and tells of their changes.
// After a failure its description ends with the fallback page's link, and its
// default action opens the page.
#pragma once

#include <windows.h>

// The answer to WM_GETOBJECT for the client area: the splash's accessible
// object. 0 for any other object, and while oleacc cannot be had, which
// leaves the answer to the default procedure. The first such request loads
// oleacc from the system folder and initialises COM on the main thread, the
// one that answers: nothing of either is loaded before it.
LRESULT AnswerAccessibleObjectRequest(HWND hwnd, WPARAM wParam, LPARAM lParam);

// Raises a name change for a new headline and a value change for a new
// progress text since the last call, or since the first accessible object
// was handed out; before that, nobody has read a text, and nothing is raised.
// Called after each paint: a text the worker replaces always brings one, and
// the texts are read after the paint has validated the window, so no change
// goes untold.
void AnnounceTextChanges(HWND hwnd);
