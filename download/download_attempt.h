// What one attempt of the download came to, and whether another one follows.
// Pure functions of what the download functions reported, so every case is
// tested natively.
#pragma once

#include <cstdint>

#include "download/download_schedule.h"
#include "download/download_url.h"
#include "state/setup_state.h"

// What an attempt left behind once it ended.
struct AttemptFacts {
  std::uint32_t failure;     // the WinINet or file error that ended it; 0 for none
  std::uint32_t httpStatus;  // the answer's status; 0 when none came
  std::uint32_t received;    // bytes of the file kept when it ended
  std::uint32_t announced;   // the whole file's length; 0 when unknown
  bool refused;              // its request for the rest was refused (AnswerFit::kRefused)
  bool stalled;              // ended by the stall bound
  bool fileFailed;           // `failure` is the installer file's: made, written or read back
};

enum class AttemptOutcome : std::uint8_t {
  kComplete,     // nothing failed: the whole file is there
  kStalled,      // no byte for the stall bound
  kTransient,    // refused, reset or cut, a name not resolved, HTTP 5xx, 408,
                 // 429, or a request for the rest refused
  kPinMismatch,  // complete, but not the pinned installer
  kFinalForUrl,  // what this URL will answer again: another HTTP status, a
                 // secure channel that cannot be made, a URL WinINet cannot use
  kLasting,      // what no URL mends: the installer file failed, the proxy
                 // refused the login
};

// A response whose status says its body is no installer: anything but 2xx
// (0 stands for no response).
inline bool IsErrorResponse(std::uint32_t status) {
  return status != 0 && (status < 200 || status > 299);
}

// The stall first, then the answer's status, then the failure, and last the
// length: a body that ends early with no error is a cut too, and one longer
// than the file's length is no whole file either.
AttemptOutcome ClassifyAttempt(const AttemptFacts& facts);

// What an attempt that did not bring the whole file failed on, in the same
// order; kNone for a whole file.
FailureClass ClassifyFailure(const AttemptFacts& facts);

// What the run ping's `detail` tells of a failure of class `failure`: the
// HTTP status for kHttp, the WinINet or system error for kOther, else 0.
std::uint32_t FailureDetail(FailureClass failure, const AttemptFacts& facts);

// The outcomes of the earlier attempts, one bit each.
using OutcomeSet = std::uint8_t;

constexpr OutcomeSet OutcomeBit(AttemptOutcome outcome) {
  return static_cast<OutcomeSet>(1u << static_cast<unsigned>(outcome));
}

// The attempts so far, the one that just ended included.
struct RetryHistory {
  int attemptsMade;       // from 1
  int barrenInARow;       // the last attempts in a row that brought no new byte
  OutcomeSet earlier;     // the outcomes of the attempts before the last one
  UrlSet standing;        // the URLs not given up
  std::uint8_t url;       // the last attempt's URL; PlanNextAttempt moves it on
  std::uint32_t mostKept; // the most bytes any attempt ended with
};

// The history before the first attempt, which fetches the download URL, of
// a copy whose URLs `usable` admits.
constexpr RetryHistory FirstAttemptHistory(UrlSet usable) { return {0, 0, 0, usable, 0, 0}; }

// Whether an attempt brought a byte the file had not held before: it ended
// with more bytes kept than any attempt before it.
inline bool BroughtNewBytes(std::uint32_t kept, std::uint32_t mostKeptBefore) {
  return kept > mostKeptBefore;
}

// What DecideRetry answers when no attempt follows.
inline constexpr std::uint32_t kGiveUp = 0xFFFFFFFF;

// After the last attempt of `history` ended with `outcome`, `msSinceLastByte`
// after the last byte arrived: the wait before the next attempt, from the
// program's schedule, or kGiveUp. The transient faults are retried until
// kMostBarrenInARow attempts in a row brought no new byte or kMostAttempts
// were made, a stall and a pin mismatch only once each in the run, a URL's
// final answer on the URLs still standing, at once, since a wait would
// change nothing, and nothing that would overrun the schedule's budget.
std::uint32_t DecideRetry(AttemptOutcome outcome, const RetryHistory& history,
                          std::uint32_t msSinceLastByte);

// The URL after `url` among `standing`, in the order of the copy and round
// to the first again: `url` itself when it stands alone.
std::uint8_t NextUrl(std::uint8_t url, UrlSet standing);

// The run's one decision after each attempt that did not bring the checked
// installer: counts the attempt on history.url, which ended with `outcome`
// and `kept` bytes held, into `history` (a URL's final answer gives that URL
// up), and returns DecideRetry's wait, with history.url moved on to the URL
// of the next attempt, or kGiveUp. The edge only acts on it.
std::uint32_t PlanNextAttempt(AttemptOutcome outcome, std::uint32_t kept,
                              std::uint32_t msSinceLastByte, RetryHistory& history);
