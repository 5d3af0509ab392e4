#include "state/setup_state.h"

#include "state/percent_texts.h"

namespace {

RepaintHook repaintHook = nullptr;

}  // namespace

SetupGlobals setupGlobals{
    .state{Idle},
    .percent{0},
    .headline{kDefaultHeadline},
    .progressText{PercentTexts[0]},
    .workerFinished{0},
    .window{nullptr},
    .dpi{96},
    .failureHeadline{kFailureHeadline},
    .hint{kDefaultHint},
};

void ResetSetupGlobals() {
  setupGlobals.state.store(Idle, std::memory_order_release);
  setupGlobals.percent.store(0, std::memory_order_release);
  setupGlobals.headline.store(kDefaultHeadline, std::memory_order_release);
  setupGlobals.progressText.store(PercentTexts[0], std::memory_order_release);
  setupGlobals.workerFinished.store(0, std::memory_order_release);
  setupGlobals.window.store(nullptr, std::memory_order_release);
  setupGlobals.dpi.store(96, std::memory_order_release);
  setupGlobals.failureHeadline.store(kFailureHeadline, std::memory_order_release);
  setupGlobals.hint.store(kDefaultHint, std::memory_order_release);
}

void SetRepaintHook(RepaintHook hook) { repaintHook = hook; }

void RequestRepaint() {
  if (repaintHook != nullptr) repaintHook();
}

void CancelSetup() {
  std::int32_t downloading = Downloading;
  setupGlobals.state.compare_exchange_strong(downloading, Cancelled, std::memory_order_acq_rel);
}
