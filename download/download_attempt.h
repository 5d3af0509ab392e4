// What one attempt of the download came to, and whether another one follows.
// Pure functions of what the download function and its status callback
// reported, so every case is tested natively.
#pragma once

#include <cstdint>

#include "download/download_schedule.h"

// What an attempt left behind once it ended.
struct AttemptFacts {
  std::int32_t callResult;   // the download function's HRESULT
  std::int32_t endResult;    // the end-of-transfer notification's; 0 until it comes
  std::uint32_t httpStatus;  // the last response's status; 0 when none came
  std::uint32_t received;    // bytes so far at the last progress notification
  std::uint32_t announced;   // the total it announced; 0 when unknown
  bool stalled;              // ended by the stall bound
};

enum class AttemptOutcome : std::uint8_t {
  kComplete,     // nothing failed: the whole file is there, unless a cancel
                 // ended the wait for the end of the transfer (`state` tells)
  kStalled,      // no byte for the stall bound
  kTransient,    // refused, reset or cut, a name not resolved, HTTP 5xx, 408, 429
  kPinMismatch,  // complete, but not the pinned installer
  kLasting,      // anything else: another HTTP status, another failure, a cancel
};

// A response whose status says its body is no installer: anything but 2xx
// (0 stands for no response).
inline bool IsErrorResponse(std::uint32_t status) {
  return status != 0 && (status < 200 || status > 299);
}

// urlmon does not report every fault as a failure: Wine's hands over a 404 or
// 503 page, or a body cut short, as a complete download (Windows fails the
// call). So the response's status and the announced length are judged first.
AttemptOutcome ClassifyAttempt(const AttemptFacts& facts);

// The outcomes of the earlier attempts, one bit each.
using OutcomeSet = std::uint8_t;

constexpr OutcomeSet OutcomeBit(AttemptOutcome outcome) {
  return static_cast<OutcomeSet>(1u << static_cast<unsigned>(outcome));
}

// What DecideRetry answers when no attempt follows.
inline constexpr std::uint32_t kGiveUp = 0xFFFFFFFF;

// After attempt number `attemptsMade` (from 1) ended with `outcome`, and the
// earlier ones with `earlier`, `msSinceLastByte` after the last byte arrived:
// the wait before the next attempt, from the program's schedule, or kGiveUp.
// The transient faults are retried up to kMostAttempts in all, a stall and a
// pin mismatch only once each, nothing else ever, and nothing that would
// overrun the schedule's budget.
std::uint32_t DecideRetry(AttemptOutcome outcome, int attemptsMade, OutcomeSet earlier,
                          std::uint32_t msSinceLastByte);
