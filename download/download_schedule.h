// How long an attempt of the download may go without a byte, and how long the
// worker waits before trying again. Portable.
#pragma once

#include <cstdint>

// Attempts that bring bytes go on, up to this many in all; three in a row
// that bring no byte the file did not already hold end the download.
inline constexpr int kMostAttempts = 10;
inline constexpr int kMostBarrenInARow = 3;

struct DownloadSchedule {
  // An attempt that receives no byte for this long ends as stalled.
  std::uint32_t stallMs;
  // A stalled attempt is aborted; one still running this much later is given
  // up for good, so that nothing the download function does can hang the
  // splash.
  std::uint32_t abortGraceMs;
  // The wait before the next attempt: after an attempt that brought bytes or
  // was the first in a row to bring none, and after the second in a row.
  std::uint32_t waitMs[kMostBarrenInARow - 1];
  // No attempt begins that could end later than this after the last byte
  // that arrived, however it ends: the longest a dead network shows anything
  // but the failure texts.
  std::uint32_t budgetMs;
};

// The program's schedule. Alone in its file, so that a test build can stand
// in shorter bounds.
extern const DownloadSchedule kDownloadSchedule;
