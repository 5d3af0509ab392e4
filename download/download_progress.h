// What the worker puts on the splash: the whole percentage of the transfer.
// Portable; the failure texts are state/setup_state.h's ShowFailureTexts.
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

// Shows the new whole percentage (ShowPercent) when it is higher than the
// one shown: a repaint only when it rose, so at most 101, and none once the
// failure texts are up; true when it was shown. The percentage never goes
// back: a download that starts over, from the same URL or another, keeps
// the highest share shown until the new transfer passes it.
bool UpdateProgress(std::uint32_t progress, std::uint32_t total);

// Body bytes were written: `kept` bytes of the whole file's `length` (0 when
// unknown) are there. False, changing nothing, once `state` is no longer
// Downloading (that is how a cancel stops the transfer); otherwise the splash
// shows the share of the whole file that is there, a resumed attempt's kept
// bytes included. The first byte of a file of known length sets
// `shareKnown`, with a repaint of its own when the percentage stays.
bool ReportKeptBytes(std::uint32_t kept, std::uint32_t length);
