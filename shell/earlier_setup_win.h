// One setup at a time in the user's session (Win32 edge).
//
// A run holds the mutex "Local\ZorvaSetupInProgress" (the session's own
// namespace) from its start until its worker has finished or failed. A start
// that finds it held looks for the setup window on its desktop and, once it
// finds it, brings it forward and exits; one that takes it and still finds a
// window, which can then only be a failed run's, closes that window and goes
// on. The name carries no tag: copies with different tags are one product.
//
// What the name gives others. A program of another session, whoever runs
// it, that takes the name first in this session's namespace (or gives it to
// an object of another kind) makes a start find it held: the start looks for
// a setup window for 5 s and, finding none on its own desktop (FindWindow
// searches only the caller's, and each session has its own), goes on without
// the object. A later start still finds that run by its window; after a
// failure it brings the failed window forward until the user closes it. No
// setup is stopped. The object has the user's default security: no other
// user but an administrator can open it, to keep it beyond its run. A program
// on this desktop that holds the name and shows a window of the class makes a
// start bring that window forward and exit: a program of this user, which
// could as well replace the setup, or one run as another user on this
// desktop, which can as well close the setup's window and answer its
// question. Messages to an earlier window are posted, never sent, so no
// window, hung or hostile, holds a start up.
#pragma once

#include <windows.h>

// Settles what becomes of an earlier setup of this session, before anything
// else of the start: false when this start must exit with 0, an earlier run
// being at work and brought forward; true to go on, holding the in-progress
// object when no run was at work.
bool SettleEarlierSetup();

// Gives up the in-progress object: no setup is at work here any more. Any
// thread, any number of times.
void EndSetupInProgress();
