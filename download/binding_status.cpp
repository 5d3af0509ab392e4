#include "download/binding_status.h"

#include "download/download_progress.h"
#include "download/transfer_watch.h"
#include "shell/setup_globals.h"

AttemptFacts attemptReport;

std::int32_t AnswerProgress(std::uint32_t progress, std::uint32_t total) {
  if (setupGlobals.state.load(std::memory_order_acquire) != Downloading)
    return binding_result::kAbort;
  if (progress > attemptReport.received) NoteBytesArrived();
  attemptReport.received = progress;
  attemptReport.announced = total;
  // An HTTP error's page is no part of the installer.
  if (!IsErrorResponse(attemptReport.httpStatus)) UpdateProgress(progress, total);
  return binding_result::kOk;
}

std::int32_t AnswerStopBinding(std::int32_t result) {
  attemptReport.endResult = result;
  setupGlobals.state.store(result >= 0 ? Downloaded : Failed, std::memory_order_release);
  return binding_result::kNotImplemented;
}
