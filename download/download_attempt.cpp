#include "download/download_attempt.h"

namespace {

// Failures that a second try may well not meet: the connection could not be
// made, broke off or timed out, or no server answered to the name. Wine
// reports a refused connection and an unresolved name alike as
// INET_E_DOWNLOAD_FAILURE. One bit for each of these URL moniker codes
// (0x800C00nn):
constexpr std::uint32_t kTransientFailureBits = 1u << 0x04    // INET_E_CANNOT_CONNECT
                                              | 1u << 0x05    // INET_E_RESOURCE_NOT_FOUND: "the
                                                              // server or proxy was not found"
                                              | 1u << 0x07    // INET_E_DATA_NOT_AVAILABLE
                                              | 1u << 0x08    // INET_E_DOWNLOAD_FAILURE: "the
                                                              // connection was interrupted"
                                              | 1u << 0x0B;   // INET_E_CONNECTION_TIMEOUT

bool IsTransientFailure(std::int32_t result) {
  const std::uint32_t code = static_cast<std::uint32_t>(result);
  return (code & 0xFFFFFFE0u) == 0x800C0000u && (kTransientFailureBits >> (code & 0x1F) & 1) != 0;
}

// Server errors, and the two client errors that ask the client to come back.
bool IsTransientStatus(std::uint32_t status) {
  return status / 100 == 5 || status == 408 || status == 429;
}

}  // namespace

AttemptOutcome ClassifyAttempt(const AttemptFacts& facts) {
  if (facts.stalled) return AttemptOutcome::kStalled;
  if (IsTransientStatus(facts.httpStatus)) return AttemptOutcome::kTransient;
  if (IsErrorResponse(facts.httpStatus)) return AttemptOutcome::kLasting;
  // The call's failure first (any code but S_OK), then the end's.
  const std::int32_t failure =
      facts.callResult != 0 ? facts.callResult : facts.endResult < 0 ? facts.endResult : 0;
  if (failure != 0)
    return IsTransientFailure(failure) ? AttemptOutcome::kTransient : AttemptOutcome::kLasting;
  return facts.received < facts.announced ? AttemptOutcome::kTransient : AttemptOutcome::kComplete;
}

std::uint32_t DecideRetry(AttemptOutcome outcome, int attemptsMade, OutcomeSet earlier,
                          std::uint32_t msSinceLastByte) {
  constexpr OutcomeSet kOnceOnly =
      OutcomeBit(AttemptOutcome::kStalled) | OutcomeBit(AttemptOutcome::kPinMismatch);
  const bool retryable = outcome == AttemptOutcome::kTransient ||
                         (OutcomeBit(outcome) & kOnceOnly & ~earlier) != 0;
  if (!retryable || attemptsMade >= kMostAttempts) return kGiveUp;
  const DownloadSchedule& schedule = kDownloadSchedule;
  const std::uint32_t wait = schedule.waitMs[attemptsMade - 1];
  const bool fits = msSinceLastByte + wait + schedule.stallMs + schedule.abortGraceMs <=
                    schedule.budgetMs;
  return fits ? wait : kGiveUp;
}
