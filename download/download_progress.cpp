#include "download/download_progress.h"

#include "download/transfer_watch.h"
#include "state/percent_texts.h"
#include "state/setup_state.h"

int ClampedPercent(double percent) {
  // Written so that NaN, failing both comparisons, also lands on 0.
  if (!(percent >= 0.0)) return 0;
  if (percent >= 100.0) return 100;
  return static_cast<int>(percent);
}

int WholePercent(std::uint32_t progress, std::uint32_t total) {
  if (total == 0) return 0;
  return ClampedPercent(static_cast<double>(progress) / static_cast<double>(total) * 100.0);
}

void UpdateProgress(std::uint32_t progress, std::uint32_t total) {
  int percent = WholePercent(progress, total);
  if (percent == setupGlobals.percent.load(std::memory_order_acquire)) return;
  setupGlobals.percent.store(percent, std::memory_order_release);
  setupGlobals.progressText.store(PercentTexts[percent], std::memory_order_release);
  RequestRepaint();
}

bool ReportKeptBytes(std::uint32_t kept, std::uint32_t length) {
  if (setupGlobals.state.load(std::memory_order_acquire) != Downloading) return false;
  NoteBytesArrived();
  UpdateProgress(kept, length);
  return true;
}

void ShowDownloadFailure() {
  setupGlobals.percent.store(0, std::memory_order_release);
  setupGlobals.headline.store(setupGlobals.failureHeadline.load(std::memory_order_acquire),
                              std::memory_order_release);
  setupGlobals.progressText.store(kFailureProgressText, std::memory_order_release);
  RequestRepaint();
}
