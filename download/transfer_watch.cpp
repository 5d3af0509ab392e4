#include "download/transfer_watch.h"

#include <atomic>

#include "download/download_schedule.h"

namespace {

constexpr std::uint32_t kBetweenAttempts = 0;
constexpr std::uint32_t kEnded = 0xFFFFFFFE;
constexpr std::uint32_t kTakenOver = 0xFFFFFFFF;

// The attempt under way in the low byte (attempts are few, so it is never a
// marker's 0xFE or 0xFF) and above it a count of the reads that brought
// bytes; or one of the three markers above.
constexpr std::uint32_t kAttemptMask = 0xFF;
constexpr std::uint32_t kOneRead = kAttemptMask + 1;
std::atomic<std::uint32_t> phase{kBetweenAttempts};
// Since the last byte or the attempt's start, and since the last byte alone.
// Only the watchdog adds to them, and in one step, so a start from 0 is never
// lost in between.
std::atomic<std::uint32_t> idleMs{0};
std::atomic<std::uint32_t> deadMs{0};

}  // namespace

void BeginWatchedAttempt(std::uint32_t number) {
  idleMs.store(0, std::memory_order_release);
  phase.store(number, std::memory_order_release);
}

bool EndWatchedAttempt() {
  // Only the watchdog's take-over can change the phase in between.
  std::uint32_t attempt = phase.load();
  return attempt != kTakenOver && phase.compare_exchange_strong(attempt, kBetweenAttempts);
}

void EndTransferWatch() { phase.store(kEnded, std::memory_order_release); }

bool NoteBytesArrived() {
  idleMs.store(0);
  deadMs.store(0);
  // The phase moves on with every read, so a take-over the watchdog decided
  // on from the phase it saw before these bytes came fails; one decided
  // after them saw the clocks at 0, which no step takes past the bound.
  std::uint32_t seen = phase.load();
  while (seen != kTakenOver)
    if (phase.compare_exchange_weak(seen, seen + kOneRead)) return true;
  return false;
}

std::uint32_t MsSinceLastByte() { return deadMs.load(); }

bool AttemptStalled() { return idleMs.load() >= kDownloadSchedule.stallMs; }

WatchAction StepTransferWatch() {
  std::uint32_t attempt = phase.load();
  if (attempt == kEnded) return WatchAction::kEnd;
  static_assert(static_cast<std::uint32_t>(kMostAttempts) < kAttemptMask - 1);
  deadMs.fetch_add(kWatchStepMs);
  // A multiple of the step: it only ever grows by it from 0.
  const std::uint32_t idle = idleMs.fetch_add(kWatchStepMs) + kWatchStepMs;
  const std::uint32_t stall = kDownloadSchedule.stallMs;
  if (attempt == kBetweenAttempts || idle < stall) return WatchAction::kNone;
  if (idle - kWatchStepMs < stall) return WatchAction::kAbort;
  if (idle >= stall + kDownloadSchedule.abortGraceMs &&
      phase.compare_exchange_strong(attempt, kTakenOver)) {
    return WatchAction::kTakeOver;
  }
  return WatchAction::kNone;
}
