#include "state/setup_state.h"

#include "state/percent_texts.h"

namespace {

RepaintHook repaintHook = nullptr;

}  // namespace

SetupGlobals setupGlobals{
    .state{Idle},
    .headline{kDefaultHeadline},
    .progressText{PercentTexts[0]},
    .workerFinished{0},
    .window{nullptr},
    .dpi{96},
    .watchdogThread{nullptr},
    .failureClass{FailureClass::kNone},
    .shareKnown{0},
    .failureHeadline{kFailureHeadline},
    .hint{kDefaultHint},
};

void ResetSetupGlobals() {
  setupGlobals.state.store(Idle, std::memory_order_release);
  setupGlobals.headline.store(kDefaultHeadline, std::memory_order_release);
  setupGlobals.progressText.store(PercentTexts[0], std::memory_order_release);
  setupGlobals.workerFinished.store(0, std::memory_order_release);
  setupGlobals.window.store(nullptr, std::memory_order_release);
  setupGlobals.dpi.store(96, std::memory_order_release);
  setupGlobals.watchdogThread.store(nullptr, std::memory_order_release);
  setupGlobals.failureClass.store(FailureClass::kNone, std::memory_order_release);
  setupGlobals.shareKnown.store(0, std::memory_order_release);
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

bool ShowPercent(int percent) {
  const char16_t* shown = setupGlobals.progressText.load(std::memory_order_acquire);
  const char16_t* wanted = PercentTexts[percent];
  if (shown == kFailureProgressText || shown == wanted ||
      !setupGlobals.progressText.compare_exchange_strong(shown, wanted, std::memory_order_acq_rel)) {
    return false;
  }
  RequestRepaint();
  return true;
}

void ShowFailureTexts() {
  // The headline first: a screen reader hears "FAILED TO DOWNLOAD" before ":(".
  setupGlobals.headline.store(setupGlobals.failureHeadline.load(std::memory_order_acquire),
                              std::memory_order_release);
  setupGlobals.progressText.store(kFailureProgressText, std::memory_order_release);
  RequestRepaint();
}

int ShownPercent() {
  const char16_t* shown = setupGlobals.progressText.load(std::memory_order_acquire);
  for (int percent = 0; percent <= 100; ++percent)
    if (PercentTexts[percent] == shown) return percent;
  return 0;
}

const char* FailureReason(FailureClass failure) {
  static constexpr const char* kReasons[] = {"",     "http",  "refused", "reset",      "tls", "dns",
                                             "stall", "cut", "proxy_auth", "disk", "other"};
  return kReasons[static_cast<std::uint8_t>(failure)];
}
