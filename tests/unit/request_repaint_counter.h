#pragma once

// How often RequestRepaint was called since the last reset.
int RepaintRequests();
// Points the repaint hook at the counter and starts it from zero.
void ResetRepaintRequests();
