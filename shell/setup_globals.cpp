#include "shell/setup_globals.h"

#include "download/download_progress.h"
#include "download/percent_texts.h"
#include "tag/setup_tag.h"

namespace {

RepaintHook repaintHook = nullptr;

ThreadHandle NoWorkerThread() {
  // INVALID_HANDLE_VALUE: no worker has been started.
  return reinterpret_cast<ThreadHandle>(static_cast<std::intptr_t>(-1));
}

}  // namespace

SetupGlobals setupGlobals{
    .state{Idle},
    .percent{0},
    .headline{kDefaultHeadline},
    .progressText{PercentTexts[0]},
    .workerFinished{0},
    .window{nullptr},
    .workerThread{NoWorkerThread()},
    .dpi{96},
    .backgroundColor = 0xFF242424,
    .textColor = 0xFFD9D9D9,
    .hintColor = 0xFFB3B3B3,
    .tileImage{nullptr},
    .logoImage{nullptr},
    .failureHeadline{kFailureHeadline},
    .hint{kDefaultHint},
    .cancelQuestion{kDefaultCancelQuestion},
    .cancelTitle{kDefaultCancelTitle},
    .inProgressObject{nullptr},
    .shareKnown{0},
};

void ResetSetupGlobals() {
  setupGlobals.state.store(Idle, std::memory_order_release);
  setupGlobals.percent.store(0, std::memory_order_release);
  setupGlobals.headline.store(kDefaultHeadline, std::memory_order_release);
  setupGlobals.progressText.store(PercentTexts[0], std::memory_order_release);
  setupGlobals.workerFinished.store(0, std::memory_order_release);
  setupGlobals.window.store(nullptr, std::memory_order_release);
  setupGlobals.workerThread.store(NoWorkerThread(), std::memory_order_release);
  setupGlobals.dpi.store(96, std::memory_order_release);
  setupGlobals.tileImage.store(nullptr, std::memory_order_release);
  setupGlobals.logoImage.store(nullptr, std::memory_order_release);
  setupGlobals.inProgressObject.store(nullptr, std::memory_order_release);
  setupGlobals.shareKnown.store(0, std::memory_order_release);
  setupGlobals.failureHeadline.store(kFailureHeadline, std::memory_order_release);
  setupGlobals.hint.store(kDefaultHint, std::memory_order_release);
  setupGlobals.cancelQuestion.store(kDefaultCancelQuestion, std::memory_order_release);
  setupGlobals.cancelTitle.store(kDefaultCancelTitle, std::memory_order_release);
}

namespace {

// Absent, the built-in text stays; present and empty, the text is empty.
void TakeText(const char16_t* tagText, std::atomic<const char16_t*>& shown) {
  if (tagText != nullptr) shown.store(tagText, std::memory_order_release);
}

}  // namespace

void TakeTagTexts(const TagFields& tag) {
  TakeText(tag.headline, setupGlobals.headline);
  TakeText(tag.failureText, setupGlobals.failureHeadline);
  TakeText(tag.hint, setupGlobals.hint);
  TakeText(tag.cancelQuestion, setupGlobals.cancelQuestion);
  TakeText(tag.cancelTitle, setupGlobals.cancelTitle);
}

void SetRepaintHook(RepaintHook hook) { repaintHook = hook; }

void RequestRepaint() {
  if (repaintHook != nullptr) repaintHook();
}

void CancelSetup() {
  // Test, then store: only the main thread calls this, and the worker is ended
  // right after it, so a worker write in between is harmless.
  if (setupGlobals.state.load(std::memory_order_acquire) == Downloading)
    setupGlobals.state.store(Cancelled, std::memory_order_release);
}
