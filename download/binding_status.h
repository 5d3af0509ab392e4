// The answers of the download's status callback that carry a decision, apart
// from the COM object that forwards to them (download_status_callback_win.h).
// Portable, so the state moves are tested natively.
#pragma once

#include <cstdint>

// HRESULT values, as the callback returns them to the download function.
namespace binding_result {
inline constexpr std::int32_t kOk = 0;
inline constexpr std::int32_t kNotImplemented = static_cast<std::int32_t>(0x80004001u);
inline constexpr std::int32_t kNoInterface = static_cast<std::int32_t>(0x80004002u);
inline constexpr std::int32_t kAbort = static_cast<std::int32_t>(0x80004004u);
}  // namespace binding_result

// A progress notification: E_ABORT, changing nothing, once `state` is no
// longer Downloading (that is how a cancel stops the transfer); otherwise the
// percent rule runs and the answer is S_OK.
std::int32_t AnswerProgress(std::uint32_t progress, std::uint32_t total);

// The end of the transfer: `state` becomes Downloaded for a result with the
// sign bit clear, Failed otherwise, whatever it was before (a cancel's
// Cancelled included). The answer is E_NOTIMPL.
std::int32_t AnswerStopBinding(std::int32_t result);
