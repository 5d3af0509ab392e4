// The answers of the download's status callback that carry a decision, apart
// from the COM object that forwards to them (download_status_callback_win.h),
// and the record they keep of the attempt under way. Portable, so the state
// moves are tested natively.
#pragma once

#include <cstdint>

#include "download/download_attempt.h"

// HRESULT values, as the callback returns them to the download function.
namespace binding_result {
inline constexpr std::int32_t kOk = 0;
inline constexpr std::int32_t kNotImplemented = static_cast<std::int32_t>(0x80004001u);
inline constexpr std::int32_t kNoInterface = static_cast<std::int32_t>(0x80004002u);
inline constexpr std::int32_t kAbort = static_cast<std::int32_t>(0x80004004u);
}  // namespace binding_result

// What the attempt under way reported. The answers below write it, and the
// callback the response's status (a redirect's target answers last), during
// the download call on the worker's thread; only the end of the transfer may
// come later and from another thread, and it moves `state` after it is
// written. The worker fills in the call's result and whether the attempt
// stalled, and reads it once the call returned and `state` moved, or once the
// attempt stalled, when nothing but the stall counts.
extern AttemptFacts attemptReport;

// A progress notification: E_ABORT, changing nothing, once `state` is no
// longer Downloading (that is how a cancel stops the transfer). Otherwise it
// is recorded, a count that grew tells the stall bound that bytes arrived,
// the percent rule runs unless the response is an HTTP error (whose page is
// no part of the installer), and the answer is S_OK.
std::int32_t AnswerProgress(std::uint32_t progress, std::uint32_t total);

// The end of the transfer: recorded, and `state` becomes Downloaded for a
// result with the sign bit clear, Failed otherwise, whatever it was before (a
// cancel's Cancelled included). The answer is E_NOTIMPL.
std::int32_t AnswerStopBinding(std::int32_t result);
