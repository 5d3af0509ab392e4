#include "download/download_attempt.h"

namespace {

// WinINet's errors (12000 + n) that a second try may well not meet: the
// connection could not be made, broke off or timed out, or no server answered
// to the name. One bit for each n:
constexpr std::uint32_t kTransientFailureBits = 1u << 2     // ERROR_INTERNET_TIMEOUT
                                              | 1u << 7     // ERROR_INTERNET_NAME_NOT_RESOLVED
                                              | 1u << 29    // ERROR_INTERNET_CANNOT_CONNECT
                                              | 1u << 30    // ERROR_INTERNET_CONNECTION_ABORTED
                                              | 1u << 31;   // ERROR_INTERNET_CONNECTION_RESET
// The connection closed before a whole answer came.
constexpr std::uint32_t kInvalidServerResponse = 12152;  // ERROR_HTTP_INVALID_SERVER_RESPONSE

bool IsTransientFailure(std::uint32_t failure) {
  const std::uint32_t n = failure - 12000;
  return failure == kInvalidServerResponse || (n < 32 && (kTransientFailureBits >> n & 1) != 0);
}

// WinINet's errors that name a class of their own; any other is kOther.
struct FailureCode {
  std::uint16_t failure;
  FailureClass failureClass;
};
constexpr FailureCode kFailureCodes[] = {
    {12002, FailureClass::kStall},    // ERROR_INTERNET_TIMEOUT
    {12007, FailureClass::kDns},      // ERROR_INTERNET_NAME_NOT_RESOLVED
    {12029, FailureClass::kRefused},  // ERROR_INTERNET_CANNOT_CONNECT
    {12030, FailureClass::kReset},    // ERROR_INTERNET_CONNECTION_ABORTED
    {12031, FailureClass::kReset},    // ERROR_INTERNET_CONNECTION_RESET
    {12152, FailureClass::kCut},      // ERROR_HTTP_INVALID_SERVER_RESPONSE
    {12037, FailureClass::kTls},      // ERROR_INTERNET_SEC_CERT_DATE_INVALID
    {12038, FailureClass::kTls},      // ERROR_INTERNET_SEC_CERT_CN_INVALID
    {12044, FailureClass::kTls},      // ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED
    {12045, FailureClass::kTls},      // ERROR_INTERNET_INVALID_CA
    {12055, FailureClass::kTls},      // ERROR_INTERNET_SEC_CERT_ERRORS
    {12056, FailureClass::kTls},      // ERROR_INTERNET_SEC_CERT_NO_REV
    {12057, FailureClass::kTls},      // ERROR_INTERNET_SEC_CERT_REV_FAILED
    {12157, FailureClass::kTls},      // ERROR_INTERNET_SECURITY_CHANNEL_ERROR
    {12169, FailureClass::kTls},      // ERROR_INTERNET_SEC_INVALID_CERT
    {12170, FailureClass::kTls},      // ERROR_INTERNET_SEC_CERT_REVOKED
    {12175, FailureClass::kTls},      // ERROR_INTERNET_DECODING_FAILED
};

FailureClass ClassOfFailure(std::uint32_t failure) {
  for (const FailureCode& code : kFailureCodes)
    if (code.failure == failure) return code.failureClass;
  return FailureClass::kOther;
}

constexpr std::uint32_t kProxyAuthenticationRequired = 407;

// Server errors, and the two client errors that ask the client to come back.
bool IsTransientStatus(std::uint32_t status) {
  return status / 100 == 5 || status == 408 || status == 429;
}

}  // namespace

AttemptOutcome ClassifyAttempt(const AttemptFacts& facts) {
  if (facts.stalled) return AttemptOutcome::kStalled;
  if (facts.refused || IsTransientStatus(facts.httpStatus)) return AttemptOutcome::kTransient;
  if (facts.fileFailed || facts.httpStatus == kProxyAuthenticationRequired)
    return AttemptOutcome::kLasting;
  if (IsErrorResponse(facts.httpStatus)) return AttemptOutcome::kFinalForUrl;
  if (facts.failure != 0) {
    return IsTransientFailure(facts.failure) ? AttemptOutcome::kTransient
                                             : AttemptOutcome::kFinalForUrl;
  }
  // With the length known, fewer bytes are a cut, and more are no part of
  // the file: either way they go, and the next attempt asks for all.
  const bool whole = facts.announced == 0 || facts.received == facts.announced;
  return whole ? AttemptOutcome::kComplete : AttemptOutcome::kTransient;
}

FailureClass ClassifyFailure(const AttemptFacts& facts) {
  if (facts.stalled) return FailureClass::kStall;
  if (facts.httpStatus == kProxyAuthenticationRequired) return FailureClass::kProxyAuth;
  if (facts.refused || IsErrorResponse(facts.httpStatus)) return FailureClass::kHttp;
  if (facts.fileFailed) return FailureClass::kDisk;
  if (facts.failure != 0) return ClassOfFailure(facts.failure);
  const bool whole = facts.announced == 0 || facts.received == facts.announced;
  return whole ? FailureClass::kNone : FailureClass::kCut;
}

std::uint32_t FailureDetail(FailureClass failure, const AttemptFacts& facts) {
  if (failure == FailureClass::kHttp) return facts.httpStatus;
  return failure == FailureClass::kOther ? facts.failure : 0;
}

std::uint32_t DecideRetry(AttemptOutcome outcome, const RetryHistory& history,
                          std::uint32_t msSinceLastByte) {
  constexpr OutcomeSet kOnceOnly =
      OutcomeBit(AttemptOutcome::kStalled) | OutcomeBit(AttemptOutcome::kPinMismatch);
  const bool retryable = outcome == AttemptOutcome::kTransient ||
                         outcome == AttemptOutcome::kFinalForUrl ||
                         (OutcomeBit(outcome) & kOnceOnly & ~history.earlier) != 0;
  if (!retryable || history.standing == 0 || history.attemptsMade >= kMostAttempts ||
      history.barrenInARow >= kMostBarrenInARow) {
    return kGiveUp;
  }
  const DownloadSchedule& schedule = kDownloadSchedule;
  // A fault that may be the network's gets time to clear, whichever URL
  // comes next; a URL that answered for good gives none to wait for.
  const std::uint32_t wait = outcome == AttemptOutcome::kFinalForUrl
                                 ? 0
                                 : schedule.waitMs[history.barrenInARow < 2 ? 0 : 1];
  const bool fits = msSinceLastByte + wait + schedule.stallMs + schedule.abortGraceMs <=
                    schedule.budgetMs;
  return fits ? wait : kGiveUp;
}

std::uint8_t NextUrl(std::uint8_t url, UrlSet standing) {
  for (int step = 1; step <= kMostUrls; ++step) {
    const int next = (url + step) % kMostUrls;
    if ((standing & UrlBit(next)) != 0) return static_cast<std::uint8_t>(next);
  }
  return url;
}

std::uint32_t PlanNextAttempt(AttemptOutcome outcome, std::uint32_t kept,
                              std::uint32_t msSinceLastByte, RetryHistory& history) {
  ++history.attemptsMade;
  history.barrenInARow = BroughtNewBytes(kept, history.mostKept) ? 0 : history.barrenInARow + 1;
  if (kept > history.mostKept) history.mostKept = kept;
  if (outcome == AttemptOutcome::kFinalForUrl)
    history.standing = static_cast<UrlSet>(history.standing & ~UrlBit(history.url));
  const std::uint32_t wait = DecideRetry(outcome, history, msSinceLastByte);
  history.earlier |= OutcomeBit(outcome);
  history.url = NextUrl(history.url, history.standing);
  return wait;
}
