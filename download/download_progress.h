// What the worker puts on the splash: the whole percentage of the transfer and
// the failure texts. Portable; the worker and its status callback call these.
#pragma once

#include <cstdint>

// The index into PercentTexts for a computed percentage: truncated toward
// zero and clamped to 0..100, so a progress above the total shows ":)" and a
// negative or not-a-number value shows "0%".
int ClampedPercent(double percent);

// (progress / total) * 100 in double precision, division first, then
// ClampedPercent; 0 when total is 0. Counts are the callback's unsigned
// 32-bit words, so counts of 2^31 and more are ordinary sizes.
int WholePercent(std::uint32_t progress, std::uint32_t total);

// Moves `percent` and `progressText` to the new whole percentage and asks for
// a repaint, only when the percentage changed (so at most 101 repaints).
void UpdateProgress(std::uint32_t progress, std::uint32_t total);

// Body bytes arrived: `kept` bytes of the whole file's `length` (0 when
// unknown) are there. False, changing nothing, once `state` is no longer
// Downloading (that is how a cancel stops the transfer); otherwise the stall
// bound hears that bytes arrived and the splash shows the share of the whole
// file that is there, a resumed attempt's kept bytes included.
bool ReportKeptBytes(std::uint32_t kept, std::uint32_t length);

// The failure headline ("FAILED TO DOWNLOAD" or the tag's) and ":(",
// `percent` back to 0, one repaint. `state` is left alone.
void ShowDownloadFailure();
