#include "download/download_progress.h"

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

bool UpdateProgress(std::uint32_t progress, std::uint32_t total) {
  // Only the worker shows percentages, so what it reads back is what it
  // showed last, or the failure texts, which ShowPercent leaves up.
  const int percent = WholePercent(progress, total);
  return percent > ShownPercent() && ShowPercent(percent);
}

bool ReportKeptBytes(std::uint32_t kept, std::uint32_t length) {
  if (setupGlobals.state.load(std::memory_order_acquire) != Downloading) return false;
  // The first measured byte changes what the taskbar button shows, even
  // where the percentage stays.
  const bool firstShare =
      length != 0 && setupGlobals.shareKnown.exchange(1, std::memory_order_acq_rel) == 0;
  if (!UpdateProgress(kept, length) && firstShare) RequestRepaint();
  return true;
}
