// The stall bound's clock. The worker marks each attempt, the status callback
// notes each byte, and a watchdog thread of its own advances the clock in
// steps, since a stalled transfer brings no notification at all: it is the
// watchdog that aborts a stalled attempt, and that gives the download up when
// an aborted attempt does not end. Portable; the threads are the edge's.
#pragma once

#include <cstdint>

enum class WatchAction : std::uint8_t {
  kNone,
  kAbort,     // the attempt under way has stalled: abort its binding
  kTakeOver,  // it was aborted, yet has not ended: the download is given up
  kEnd,       // the download is over: the watchdog ends
};

// The worker: attempt `number` (from 1) begins; its clock starts at 0.
void BeginWatchedAttempt(std::uint32_t number);

// The worker: the attempt has ended. False when the watchdog has taken the
// download over; the worker must then leave everything to it.
bool EndWatchedAttempt();

// The worker: the download is over, so the watchdog ends too.
void EndTransferWatch();

// The worker: a read brought bytes; both clocks start again at 0. False when
// the watchdog has taken the download over: the worker must then leave the
// bytes unwritten and everything else to it.
bool NoteBytesArrived();

// The worker: how long ago the last byte arrived, or the download began.
std::uint32_t MsSinceLastByte();

// The worker: whether the attempt under way has gone without a byte for the
// schedule's stall bound.
bool AttemptStalled();

// How long the watchdog sleeps between its steps: a stall is found within
// this much of the bound.
inline constexpr std::uint32_t kWatchStepMs = 250;

// The watchdog, after it has slept kWatchStepMs: what to do now.
WatchAction StepTransferWatch();
