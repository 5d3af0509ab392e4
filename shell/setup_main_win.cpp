// The program's entry: start-up in a fixed order, then the message loop.
#include <windows.h>

#include "base/system_library_win.h"
#include "download/run_ping_win.h"
#include "resources/splash_artwork.h"
#include "shell/earlier_setup_win.h"
#include "shell/setup_window_win.h"
#include "shell/shell_globals.h"
#include "shell/taskbar_button_win.h"
#include "splash/gdiplus_flat_win.h"
#include "splash/splash_image_win.h"
#include "splash/splash_look.h"
#include "state/setup_state.h"
#include "tag/setup_tag.h"

// The C runtime's default handler of math errors reports them on stderr,
// which a GUI program does not have, and brings 300 bytes of messages and a
// formatted print into the exe; nothing here raises one. The runtime takes
// this definition instead of its own.
extern "C" int _matherr(struct _exception*) { return 0; }
// Start-up hands that handler to the C library, whose handling without one is
// the same. Unregistered, the runtime's registration stays out of the exe,
// and with its unwind table a 512-byte block.
extern "C" void __mingw_setusermatherr(int (*)(struct _exception*)) {}

// The runtime's start-up mends references to data imported without
// __declspec(dllimport) ("pseudo relocations") by rewriting them in place,
// which brings 2 KB of relocator and section walking into the exe. The exe
// has none, and its link refuses to make any (--disable-auto-import),
// so the runtime takes this definition instead of its own.
extern "C" void _pei386_runtime_relocator() {}

// The runtime's filter of unhandled exceptions turns a crash into the signal
// whose handler signal() set, and passes it on to the filter it replaced
// otherwise. Nothing here sets one, and a new process has no filter before
// it, so every crash goes on to the system's own handling, as with these
// definitions, which the runtime takes instead of its own (400 bytes of code
// and the import of signal()).
extern "C" {
LPTOP_LEVEL_EXCEPTION_FILTER __mingw_oldexcpt_handler;
long CALLBACK _gnu_exception_handler(EXCEPTION_POINTERS*) { return EXCEPTION_CONTINUE_SEARCH; }
}

namespace {

// What the worker is handed: the tag's download URL and launch argument. The
// tag's strings stay put for the life of the process, and so does this.
WorkerInputs workerInputs;

void StartGdiplus() {
  if (!LoadGdiplus()) return;
  const GdiplusStartupInput input{1, nullptr, FALSE, FALSE};
  ULONG_PTR token = 0;
  // Never shut down: GDI+ stays started until the process ends.
  gdiplus.GdiplusStartup(&token, &input, nullptr);
}

// The worker's repaint requests, from any thread: the window is invalidated
// and its thread told, so that the taskbar button follows even while the
// window is minimised and gets no WM_PAINT.
void RepaintSetupWindow() {
  InvalidateSetupWindow();
  TellTaskbarButtonOfChange();
}

void RunMessageLoop() {
  MSG message{};
  // Only WM_QUIT (0) ends the loop; an error (-1) does not.
  while (GetMessageA(&message, nullptr, 0, 0) != 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  // The exe runs from Downloads: where Windows allows it, loads by bare name
  // from here on search the system folder only, never the exe's own folder.
  // The program's own loads use full paths on every Windows.
  RestrictDllSearchToSystemFolder();
  // A second start while a setup is at work only brings that one forward.
  if (!SettleEarlierSetup()) return 0;
  SetRepaintHook(RepaintSetupWindow);
  LookUpDpiFunctions();
  StartGdiplus();
  const TagFields& tag = ReadSetupTag();
  TakeTagTexts(tag);
  HWND window = CreateSetupWindow(instance);
  if (window == nullptr) return 0;
  setupGlobals.window.store(window, std::memory_order_release);
  const int dpi = QueryWindowDpi();
  setupGlobals.dpi.store(dpi, std::memory_order_release);
  splashLook.tileImage.store(LoadEmbeddedImage(kPatternTilePng), std::memory_order_release);
  splashLook.logoImage.store(LoadEmbeddedImage(kLogoPng), std::memory_order_release);
  PlaceSetupWindow(window, dpi);
  ShowWindow(window, showCommand);
  ListenForTaskbarButton(window);
  PrepareRunPing(tag.pingUrl, tag.textsLanguage);
  workerInputs = {tag.downloadUrl, tag.launchArgument, {tag.mirrorUrls[0], tag.mirrorUrls[1]}};
  StartWorker(workerInputs);
  RunMessageLoop();
  // The window is gone after the hand-off, or after a close that followed
  // the failure texts, whose ping went while the window stood.
  SendRunPing(RunEnd::kEnded);
  AwaitRunPing();
  return 0;
}
