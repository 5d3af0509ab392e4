#include "download/download_worker_win.h"

#include <atomic>

#include "base/system_text_win.h"
#include "base/zero_filled.h"
#include "download/download_attempt.h"
#include "download/download_progress.h"
#include "download/download_resume.h"
#include "download/download_schedule.h"
#include "download/download_url.h"
#include "download/installer_file_win.h"
#include "download/installer_run_win.h"
#include "download/internet_functions_win.h"
#include "download/run_ping_win.h"
#include "download/transfer_watch.h"
#include "shell/setup_globals.h"

namespace {

// WinINet, which urlmon's downloads sit on, called directly: the request
// carries the Range headers, the answer's headers are read, and the body
// comes as it arrives, with the system's proxy settings, its automatic
// logins and its redirect handling all as they were. The worker's table.
InternetFunctions internet;

SetupState CurrentState() {
  return static_cast<SetupState>(setupGlobals.state.load(std::memory_order_acquire));
}

void SetState(SetupState state) { setupGlobals.state.store(state, std::memory_order_release); }

// Every attempt asks the server, never a cache, which might hold an older
// build or the very file whose pin did not match; nothing is written to the
// cache, since the program keeps the file itself; nothing may put up a dialog.
constexpr DWORD kRequestFlags =
    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI;

// The session of the attempt under way. Whoever exchanges it out, the
// watchdog on a stall or the worker at the attempt's end, closes it, which on
// Windows also ends a call blocked on it or on its request. Wine's WinINet
// ends the connection only once no call uses it, and takes no receive
// time-out for a request InternetOpenUrl makes: there a stalled attempt
// ends by the watchdog's take-over.
std::atomic<HINTERNET> attemptSession{nullptr};

// What the answer under way said about the file whose bytes are kept.
constinit ZERO_FILLED FileIdentity identity;

// The kept bytes go, and what was known of their file with them. Should the
// file not open again, the next write fails the attempt.
void ForgetKeptBytes() {
  identity = {};
  StartInstallerFileOver();
}

void CloseAttemptSession() {
  if (const HINTERNET session = attemptSession.exchange(nullptr)) internet.close(session);
}

// The worker's last step: the worker is marked finished, then the window is
// sent its close (the close is sent, not posted: the worker waits while the
// window procedure handles it) or the failure texts are put up.
void FinishWorker(bool ok) {
  setupGlobals.workerFinished.store(1, std::memory_order_release);
  if (ok) {
    SendMessageA(setupGlobals.window.load(std::memory_order_acquire), WM_CLOSE, 0, 0);
  } else {
    ShowDownloadFailure();
    // Once the failure is up; the window stands meanwhile.
    SendRunPing(RunEnd::kEnded);
  }
}

// The worker is stuck in a WinINet call, even after its session was closed:
// its last step is taken in its stead, and the file it was writing goes.
// The worker is left where it is rather than terminated, since it may hold a
// lock the window's painting needs; should the call ever return, its write
// fails, EndWatchedAttempt gives the attempt up and the worker ends on the
// same failure.
void TakeOverFromWorker() {
  SetState(Failed);
  DiscardInstallerFile();
  SendRunPing(RunEnd::kTakenOver);
  FinishWorker(false);
}

// The watchdog thread: a stalled transfer returns from no call, so something
// apart from the worker has to keep the time.
DWORD WINAPI WatchTransfer(LPVOID) {
  WatchAction action;
  do {
    Sleep(kWatchStepMs);
    action = StepTransferWatch();
    if (action == WatchAction::kAbort) CloseAttemptSession();
  } while (action == WatchAction::kNone || action == WatchAction::kAbort);
  if (action == WatchAction::kTakeOver) TakeOverFromWorker();
  return 0;
}

// A header of the answer into the `bytes` at `value`, which hold at least a
// 32-bit word: as text, or as a number with HTTP_QUERY_FLAG_NUMBER. Empty
// text or 0 when the answer has none or it does not fit.
void QueryHeader(HINTERNET answer, DWORD header, void* value, DWORD bytes) {
  if (!internet.query(answer, header, value, &bytes, nullptr)) *static_cast<DWORD*>(value) = 0;
}

std::uint32_t QueryNumber(HINTERNET answer, DWORD header) {
  DWORD number;
  QueryHeader(answer, header | HTTP_QUERY_FLAG_NUMBER, &number, sizeof number);
  return number;
}

// The answer's status and headers decide what becomes of the kept bytes.
AnswerFit AcceptAnswer(HINTERNET answer, bool askedRest, AttemptFacts& facts) {
  facts.httpStatus = QueryNumber(answer, HTTP_QUERY_STATUS_CODE);
  // "bytes " and three counts of up to 10 digits fit.
  constexpr DWORD kRangeCapacity = 48;
  char16_t etag[kValidatorCapacity], lastModified[kValidatorCapacity], range[kRangeCapacity];
  QueryHeader(answer, HTTP_QUERY_CONTENT_RANGE, range, sizeof range);
  const AnswerFit fit = JudgeAnswer(askedRest, facts.httpStatus, range, InstallerFileKept(),
                                    identity.length);
  if (fit == AnswerFit::kContinues) return fit;
  // Whatever else came, the kept bytes are of no more use.
  ForgetKeptBytes();
  facts.refused = fit == AnswerFit::kRefused;
  if (fit != AnswerFit::kWholeFile) return fit;
  QueryHeader(answer, HTTP_QUERY_ETAG, etag, sizeof etag);
  QueryHeader(answer, HTTP_QUERY_LAST_MODIFIED, lastModified, sizeof lastModified);
  IdentifyFile(etag, lastModified, QueryNumber(answer, HTTP_QUERY_CONTENT_LENGTH), identity);
  return fit;
}

// Appends the body to the file as it arrives, until it ends or fails.
void ReceiveBody(HINTERNET answer, AttemptFacts& facts) {
  for (;;) {
    DWORD count = 0;
    if (!internet.read(answer, transferBuffer, kTransferBufferSize, &count)) {
      facts.failure = GetLastError();
      return;
    }
    if (count == 0) return;
    if (!AppendToInstallerFile(transferBuffer, count)) {
      facts.failure = GetLastError();
      return;
    }
    // A cancel: the attempt ends here.
    if (!ReportKeptBytes(InstallerFileKept(), identity.length)) return;
  }
}

// When the download began, for the report's download time.
DWORD downloadStartTick;

// What the attempt that ended adds to the run's report: written only once
// it has ended as the worker's own, so never while the run is reported.
void NoteAttempt(std::uint32_t number, bool resumed, const AttemptFacts& facts) {
  runReport.stage = RunStage::kDownloading;
  runReport.numbers[kAttempts] = number;
  runReport.numbers[kResumes] += resumed;
  runReport.numbers[kBytes] = facts.received;
  runReport.numbers[kSize] = facts.announced;
  runReport.numbers[kDownloadMs] = GetTickCount() - downloadStartTick;
}

// One attempt: the request (for the rest of the kept bytes when they can be
// continued), the answer's headers, then the body.
AttemptOutcome RunAttempt(const DownloadRequest& request, std::uint32_t number) {
  AttemptFacts facts{};
  bool resumed = false;
  BeginWatchedAttempt(number);
  ResumeHeaders headers;
  const bool askRest = ShouldResume(InstallerFileKept(), identity) &&
                       ComposeResumeHeaders(InstallerFileKept(), identity, headers);
  const HINTERNET session =
      internet.open(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  attemptSession.store(session);
  const HINTERNET answer =
      session == nullptr ? nullptr
                         : internet.openUrl(session, SystemText(request.url),
                                            askRest ? SystemText(headers.Text()) : nullptr,
                                            askRest ? static_cast<DWORD>(-1) : 0, kRequestFlags, 0);
  if (answer == nullptr) {
    facts.failure = GetLastError();
  } else if (const AnswerFit fit = AcceptAnswer(answer, askRest, facts);
             fit == AnswerFit::kContinues || fit == AnswerFit::kWholeFile) {
    resumed = fit == AnswerFit::kContinues;
    ReceiveBody(answer, facts);
  }
  facts.received = InstallerFileKept();
  facts.announced = identity.length;
  facts.stalled = AttemptStalled();
  // Closing the session closes its request too, unless the watchdog did.
  if (answer != nullptr && attemptSession.load() == session) internet.close(answer);
  CloseAttemptSession();
  // Taken over by the watchdog, which puts up the failure texts itself.
  if (!EndWatchedAttempt()) return AttemptOutcome::kLasting;
  NoteAttempt(number, resumed, facts);
  return ClassifyAttempt(facts);
}

// Attempts until one brings the whole file, held checked, or until the
// schedule gives up.
bool DownloadWithRetries(const DownloadRequest& request) {
  RetryHistory history{};
  std::uint32_t mostKept = 0;
  for (std::uint32_t attempt = 1;; ++attempt) {
    AttemptOutcome outcome = RunAttempt(request, attempt);
    // A cancel ends the attempts, whatever this one came to.
    if (CurrentState() == Cancelled) return false;
    const std::uint32_t kept = InstallerFileKept();
    if (outcome == AttemptOutcome::kComplete) {
      if (HoldCheckedInstallerFile(request)) return true;
      outcome = AttemptOutcome::kPinMismatch;
      runReport.stage = RunStage::kPinMismatched;
    }
    history.attemptsMade = static_cast<int>(attempt);
    history.barrenInARow = BroughtNewBytes(kept, mostKept) ? 0 : history.barrenInARow + 1;
    if (kept > mostKept) mostKept = kept;
    const std::uint32_t waitMs = DecideRetry(outcome, history, MsSinceLastByte());
    if (waitMs == kGiveUp) {
      SetState(Failed);
      return false;
    }
    history.earlier |= OutcomeBit(outcome);
    // Bytes that cannot be continued go now, so the splash shows what is
    // there: the headline stays, and the count goes on from the kept bytes.
    if (outcome == AttemptOutcome::kPinMismatch || !ShouldResume(kept, identity))
      ForgetKeptBytes();
    UpdateProgress(InstallerFileKept(), identity.length);
    Sleep(waitMs);
  }
}

}  // namespace

bool DownloadInstaller(const char16_t* url, const char16_t* launchArgument) {
  SetState(Downloading);
  downloadStartTick = GetTickCount();
  DownloadRequest request;
  // A malformed pin admits no installer, so nothing is fetched for it.
  const bool usable = PrepareDownload(url, request) && request.pin != InstallerPin::kMalformed &&
                      LookUpInternet(internet) && StartInstallerFileOver();
  if (!usable) {
    SetState(Failed);
  } else {
    // Without the watchdog nothing bounds a stall, but the download still runs.
    CloseHandle(CreateThread(nullptr, 0, WatchTransfer, nullptr, 0, nullptr));
    const bool downloaded = DownloadWithRetries(request);
    EndTransferWatch();
    if (downloaded) {
      runReport.stage = RunStage::kDownloaded;
      SetState(Downloaded);
      MarkInstallerRunning(true);
      SetState(InstallerRun(InstallerFilePath(), launchArgument));
      MarkInstallerRunning(false);
    }
  }
  DiscardInstallerFile();
  return CurrentState() == Finished;
}

DWORD WINAPI DownloadWorker(LPVOID inputs) {
  const WorkerInputs& given = *static_cast<const WorkerInputs*>(inputs);
  FinishWorker(DownloadInstaller(ChooseDownloadUrl(given.downloadUrl), given.launchArgument));
  return 0;
}
