// Planted as urlmon.dll beside the setup exe; see planted_dll.h.
#include "planted_dll.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) LeaveLoadedMarker(self);
  return TRUE;
}
