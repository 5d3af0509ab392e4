#pragma once

// How often RequestRepaint was called since the last reset.
int RepaintRequests();
void ResetRepaintRequests();
