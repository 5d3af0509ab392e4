// The program's entry: start-up in a fixed order, then the message loop.
#include <windows.h>

#include "base/system_library_win.h"
#include "download/installer_file_win.h"
#include "download/run_ping_win.h"
#include "resources/splash_artwork.h"
#include "shell/earlier_setup_win.h"
#include "shell/setup_globals.h"
#include "shell/setup_window_win.h"
#include "splash/gdiplus_flat_win.h"
#include "splash/splash_image_win.h"
#include "tag/setup_tag.h"

// The C runtime's default handler of math errors reports them on stderr,
// which a GUI program does not have, and brings 300 bytes of messages and a
// formatted print into the exe; nothing here raises one. The runtime takes
// this definition instead of its own.
extern "C" int _matherr(struct _exception*) { return 0; }

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

// The worker's repaint requests. It makes its last, for the failure texts,
// once it has marked itself finished: from then on no setup is at work here,
// and a new start may try again.
void RepaintSetupWindow() {
  if (setupGlobals.workerFinished.load(std::memory_order_acquire) != 0) EndSetupInProgress();
  InvalidateSetupWindow();
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
  setupGlobals.tileImage.store(LoadEmbeddedImage(kPatternTilePng), std::memory_order_release);
  setupGlobals.logoImage.store(LoadEmbeddedImage(kLogoPng), std::memory_order_release);
  PlaceSetupWindow(window, dpi);
  ShowWindow(window, showCommand);
  PrepareRunPing(tag.pingUrl, tag.textsLanguage);
  workerInputs = {tag.downloadUrl, tag.launchArgument};
  StartWorker(workerInputs);
  RunMessageLoop();
  // After a cancel the worker has left the file it was writing.
  DiscardInstallerFile();
  // The window is gone: after the hand-off, or after a Yes. A failure's
  // ping went while its window stood.
  const bool installed = setupGlobals.state.load(std::memory_order_acquire) == Finished;
  SendRunPing(installed ? RunEnd::kEnded : RunEnd::kCancelled);
  AwaitRunPing();
  return 0;
}
