// How long an attempt of the download may go without a byte, and how long the
// worker waits before trying again. Portable.
#pragma once

#include <cstdint>

// The first attempt and at most two more.
inline constexpr int kMostAttempts = 3;

struct DownloadSchedule {
  // An attempt that receives no byte for this long ends as stalled.
  std::uint32_t stallMs;
  // A stalled attempt is aborted; one still running this much later is given
  // up for good, so that nothing the download function does can hang the
  // splash.
  std::uint32_t abortGraceMs;
  // The waits before the second and before the third attempt.
  std::uint32_t waitMs[kMostAttempts - 1];
  // No attempt begins that could end later than this after the last byte
  // that arrived, however it ends: the longest a dead network shows anything
  // but the failure texts.
  std::uint32_t budgetMs;
};

// The program's schedule. Alone in its file, so that a test build can stand
// in shorter bounds.
extern const DownloadSchedule kDownloadSchedule;
