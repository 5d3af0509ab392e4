#include "download/download_worker_win.h"

#include <atomic>

#include "base/system_functions_win.h"
#include "base/system_text_win.h"
#include "base/utf16_string.h"
#include "base/zero_filled.h"
#include "download/download_attempt.h"
#include "download/download_progress.h"
#include "download/download_resume.h"
#include "download/download_schedule.h"
#include "download/download_url.h"
#include "download/installer_file_win.h"
#include "download/installer_run_win.h"
#include "download/internet_lookup_win.h"
#include "download/run_ping_win.h"
#include "download/transfer_watch.h"
#include "state/setup_state.h"

namespace {

SetupState CurrentState() {
  return static_cast<SetupState>(setupGlobals.state.load(std::memory_order_acquire));
}

void SetState(SetupState state) { setupGlobals.state.store(state, std::memory_order_release); }

// WinINet (looked up: download/internet_lookup_win.h) is called directly:
// the request carries the Range headers, the answer's headers are read, and
// the body comes as it arrives, with the system's proxy settings, its
// automatic logins and its redirect handling all as they were. Every attempt
// asks the server, never a cache, which might hold an older build or the
// very file whose pin did not match; nothing is written to the cache, since
// the program keeps the file itself; nothing may put up a dialog but the
// proxy's login prompt, which the worker asks for itself.
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

// The kept bytes go, and what was known of their file with them. False,
// with the error in `failure`, when the file does not open again.
bool ForgetKeptBytes(std::uint32_t& failure) {
  identity = {};
  if (StartInstallerFileOver()) return true;
  failure = GetLastError();
  return false;
}

void CloseAttemptSession() {
  if (const HINTERNET session = attemptSession.exchange(nullptr))
    systemFunctions.InternetCloseHandle(session);
}

// The worker's last step: the worker is marked finished, then the window is
// sent its close (the close is sent, not posted: the worker waits while the
// window procedure handles it) or the failure texts are put up.
void FinishWorker(bool ok) {
  setupGlobals.workerFinished.store(1, std::memory_order_release);
  if (ok) {
    SendMessageA(SetupWindow(), WM_CLOSE, 0, 0);
  } else {
    ShowFailureTexts();
    // Once the failure is up; the window stands meanwhile.
    SendRunPing(RunEnd::kEnded);
  }
}

// When the download began, for the report's download time.
DWORD downloadStartTick;

// The report's bytes: while the attempt is the worker's own (bytes just came,
// so a take-over is a stall bound away), or once it has ended as its own.
// Not inlined: it has two callers, and each copy would cost the exe bytes.
__attribute__((noinline)) void NoteKeptBytes(std::uint32_t kept, std::uint32_t length) {
  runReport.numbers[kBytes] = kept;
  runReport.numbers[kSize] = length;
  runReport.numbers[kDownloadMs] = GetTickCount() - downloadStartTick;
}

// The watchdog thread: a stalled transfer returns from no call, so something
// apart from the worker has to keep the time. It only closes the attempt's
// session, which ends a call blocked on it; when even that does not end the
// call, it tells the window thread, which puts the failure up. The worker
// is left where it is rather than terminated, since it may hold a lock the
// window's painting needs; should its call ever return, it finds the
// download taken over and touches nothing more: not the file, which it alone
// holds, nor the texts, nor the end of the run.
DWORD WINAPI WatchTransfer(LPVOID) {
  WatchAction action;
  do {
    Sleep(kWatchStepMs);
    action = StepTransferWatch();
    if (action == WatchAction::kAbort) CloseAttemptSession();
  } while (action == WatchAction::kNone || action == WatchAction::kAbort);
  if (action == WatchAction::kTakeOver) PostMessageA(SetupWindow(), kWorkerGaveUpMessage, 0, 0);
  return 0;
}

// A header of the answer into the `bytes` at `value`, which hold at least a
// 32-bit word: as text, or as a number with HTTP_QUERY_FLAG_NUMBER. Empty
// text or 0 when the answer has none or it does not fit.
void QueryHeader(HINTERNET answer, DWORD header, void* value, DWORD bytes) {
  if (!systemFunctions.HttpQueryInfoW(answer, header, value, &bytes, nullptr))
    *static_cast<DWORD*>(value) = 0;
}

std::uint32_t QueryNumber(HINTERNET answer, DWORD header) {
  DWORD number;
  QueryHeader(answer, header | HTTP_QUERY_FLAG_NUMBER, &number, sizeof number);
  return number;
}

// The answer's status and headers decide what becomes of the kept bytes.
AnswerFit AcceptAnswer(HINTERNET answer, bool askedRest, std::uint8_t url, AttemptFacts& facts) {
  facts.httpStatus = QueryNumber(answer, HTTP_QUERY_STATUS_CODE);
  // "bytes " and three counts of up to 10 digits fit.
  constexpr DWORD kRangeCapacity = 48;
  char16_t etag[kValidatorCapacity], lastModified[kValidatorCapacity], range[kRangeCapacity];
  QueryHeader(answer, HTTP_QUERY_CONTENT_RANGE, range, sizeof range);
  const AnswerFit fit = JudgeAnswer(askedRest, facts.httpStatus, range, InstallerFileKept(),
                                    identity.length);
  if (fit == AnswerFit::kContinues) return fit;
  // Whatever else came, the kept bytes are of no more use.
  if (!ForgetKeptBytes(facts.failure)) {
    facts.fileFailed = true;
    return AnswerFit::kRefused;
  }
  facts.refused = fit == AnswerFit::kRefused;
  if (fit != AnswerFit::kWholeFile) return fit;
  QueryHeader(answer, HTTP_QUERY_ETAG, etag, sizeof etag);
  QueryHeader(answer, HTTP_QUERY_LAST_MODIFIED, lastModified, sizeof lastModified);
  IdentifyFile(etag, lastModified, QueryNumber(answer, HTTP_QUERY_CONTENT_LENGTH), identity);
  identity.url = url;
  return fit;
}

// Appends the body to the file as it arrives, until it ends or fails, or the
// watchdog has taken the download over.
void ReceiveBody(HINTERNET answer, AttemptFacts& facts) {
  for (;;) {
    DWORD count = 0;
    if (!systemFunctions.InternetReadFile(answer, transferBuffer, kTransferBufferSize, &count)) {
      facts.failure = GetLastError();
      return;
    }
    if (count == 0 || !NoteBytesArrived()) return;
    if (const std::uint32_t failure = AppendToInstallerFile(transferBuffer, count)) {
      facts.failure = failure;
      facts.fileFailed = true;
      return;
    }
    NoteKeptBytes(InstallerFileKept(), identity.length);
    // A cancel: the attempt ends here.
    if (!ReportKeptBytes(InstallerFileKept(), identity.length)) return;
  }
}

// A proxy that asks for a login gets it from the person, once a run.
constinit bool proxyLoginAsked = false;

// The login entered (user, then password), for the requests of the later
// attempts: WinINet keeps it with the attempt's session, and each attempt
// opens one of its own. In memory only, empty until entered, and wiped once
// the download is over, before the installer runs.
constexpr DWORD kProxyLoginCapacity = 256;
constexpr DWORD kProxyLoginOptions[2] = {INTERNET_OPTION_PROXY_USERNAME,
                                         INTERNET_OPTION_PROXY_PASSWORD};
constinit ZERO_FILLED char16_t proxyLogin[2][kProxyLoginCapacity];

// Asks the person for the proxy's login with the system's own prompt and
// keeps what was entered; false on a cancel. The prompt is modal to the
// splash, its owner: WinINet's dialog runs its loop here, on the worker
// thread, while the window thread goes on painting the splash, which stays
// disabled meanwhile, so no close can reach it while the prompt is up. The
// watch pauses while the prompt waits for the person, and its clocks start
// again after it.
bool AskProxyLogin(HINTERNET answer, std::uint32_t number) {
  proxyLoginAsked = true;
  const DWORD entered = systemFunctions.InternetErrorDlg(
      SetupWindow(), answer, ERROR_INTERNET_INCORRECT_PASSWORD,
      FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_GENERATE_DATA |
          FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS,
      nullptr);
  BeginWatchedAttempt(number);
  NoteBytesArrived();
  if (entered != ERROR_INTERNET_FORCE_RETRY) return false;
  for (int i = 0; i < 2; ++i) {
    DWORD bytes = sizeof proxyLogin[i];
    systemFunctions.InternetQueryOptionW(answer, kProxyLoginOptions[i], proxyLogin[i], &bytes);
  }
  return true;
}

// When the answer is a proxy's 407: the login, asked for on the run's first
// one and given again to a later attempt's request, which is then sent
// again on the same handle; without one (a cancel) the 407 stands, and so
// does a 407 to the request sent again. False, GetLastError telling why,
// when the request could not be sent again.
bool AnswerProxyLogin(HINTERNET answer, std::uint32_t number) {
  if (QueryNumber(answer, HTTP_QUERY_STATUS_CODE) != HTTP_STATUS_PROXY_AUTH_REQ) return true;
  if (!proxyLoginAsked) {
    if (!EndWatchedAttempt() || !AskProxyLogin(answer, number)) return true;
  } else if (proxyLogin[0][0] == 0) {
    return true;
  } else {
    for (int i = 0; i < 2; ++i)
      systemFunctions.InternetSetOptionW(answer, kProxyLoginOptions[i], proxyLogin[i],
                                         static_cast<DWORD>(Utf16Length(proxyLogin[i]) + 1));
  }
  return systemFunctions.HttpSendRequestW(answer, nullptr, 0, nullptr, 0);
}

// One attempt on the copy's URL `url`, which `request` holds: the request
// (for the rest of the kept bytes when they can be continued), the answer's
// headers, then the body. False when the watchdog took the download over
// meanwhile; else `facts` say how it ended.
bool RunAttempt(const DownloadRequest& request, std::uint8_t url, std::uint32_t number,
                AttemptFacts& facts) {
  facts = {};
  // Before the watchdog watches it, so never while the run is reported.
  runReport.stage = RunStage::kDownloading;
  runReport.numbers[kAttempts] = number;
  bool resumed = false;
  BeginWatchedAttempt(number);
  ResumeHeaders headers;
  const bool askRest = ShouldResume(InstallerFileKept(), identity, url) &&
                       ComposeResumeHeaders(InstallerFileKept(), identity, headers);
  const HINTERNET session =
      systemFunctions.InternetOpenW(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  attemptSession.store(session);
  const HINTERNET answer =
      session == nullptr ? nullptr
                         : systemFunctions.InternetOpenUrlW(session, SystemText(request.url),
                                            askRest ? SystemText(headers.Text()) : nullptr,
                                            askRest ? static_cast<DWORD>(-1) : 0, kRequestFlags, 0);
  if (answer == nullptr || !AnswerProxyLogin(answer, number)) {
    facts.failure = GetLastError();
  } else if (const AnswerFit fit = AcceptAnswer(answer, askRest, url, facts);
             fit == AnswerFit::kContinues || fit == AnswerFit::kWholeFile) {
    resumed = fit == AnswerFit::kContinues;
    ReceiveBody(answer, facts);
  }
  facts.received = InstallerFileKept();
  facts.announced = identity.length;
  facts.stalled = AttemptStalled();
  // Closing the session closes its request too, unless the watchdog did.
  if (answer != nullptr && attemptSession.load() == session)
    systemFunctions.InternetCloseHandle(answer);
  CloseAttemptSession();
  if (!EndWatchedAttempt()) return false;
  runReport.numbers[kResumes] += resumed;
  NoteKeptBytes(facts.received, facts.announced);
  return true;
}

// The download's end, and what it failed on.
void FailDownload(FailureClass failure) {
  setupGlobals.failureClass.store(failure, std::memory_order_release);
  SetState(Failed);
}

// What the whole file that came amounts to: kComplete once it is held
// checked, kPinMismatch when it is not the installer, or, when it could not
// be opened again, the outcome of an attempt that failed on its file.
AttemptOutcome CheckedOutcome(FileCheck check, AttemptFacts& facts) {
  if (check == FileCheck::kHeld) return AttemptOutcome::kComplete;
  if (check == FileCheck::kMismatch) return AttemptOutcome::kPinMismatch;
  facts.fileFailed = true;
  return ClassifyAttempt(facts);
}

// Prepares `request` for the copy's URL `url`, one that UsableUrls admits.
void UseUrl(const WorkerInputs& inputs, std::uint8_t url, DownloadRequest& request) {
  if (url == 0)
    PrepareDownload(ChooseDownloadUrl(inputs.downloadUrl), request);
  else
    PrepareMirror(inputs.mirrorUrls[url - 1], request);
}

// Attempts, on the URL PlanNextAttempt names each time, until one brings the
// whole file, held checked, or until the plan gives up or the download is
// cancelled (kFailed, `state` says which) or taken over by the watchdog.
DownloadEnd DownloadWithRetries(const WorkerInputs& inputs, DownloadRequest& request) {
  RetryHistory history = FirstAttemptHistory(UsableUrls(inputs.mirrorUrls));
  for (std::uint32_t attempt = 1;; ++attempt) {
    AttemptFacts facts;
    if (!RunAttempt(request, history.url, attempt, facts)) return DownloadEnd::kTakenOver;
    // A cancel ends the attempts, whatever this one came to.
    if (CurrentState() == Cancelled) return DownloadEnd::kFailed;
    AttemptOutcome outcome = ClassifyAttempt(facts);
    const std::uint32_t kept = InstallerFileKept();
    if (outcome == AttemptOutcome::kComplete) {
      const FileCheck check = HoldCheckedInstallerFile(request, facts.failure);
      if (check == FileCheck::kNotAProgram) {
        // Every byte came, but no URL would bring a program in its place.
        runReport.stage = RunStage::kDownloaded;
        runReport.numbers[kDetail] = facts.failure;
        FailDownload(FailureClass::kOther);
        return DownloadEnd::kFailed;
      }
      outcome = CheckedOutcome(check, facts);
      if (outcome == AttemptOutcome::kComplete) {
        runReport.numbers[kMirror] = history.url;
        return DownloadEnd::kHeld;
      }
      if (outcome == AttemptOutcome::kPinMismatch) runReport.stage = RunStage::kPinMismatched;
    }
    const std::uint32_t waitMs = PlanNextAttempt(outcome, kept, MsSinceLastByte(), history);
    if (waitMs == kGiveUp) {
      FailureClass failure = ClassifyFailure(facts);
      if (failure == FailureClass::kNone) failure = FailureClass::kOther;
      runReport.numbers[kDetail] = FailureDetail(failure, facts);
      FailDownload(failure);
      return DownloadEnd::kFailed;
    }
    // Bytes the next URL cannot continue go now, never to be spliced with
    // another file's; the splash keeps the highest share it showed.
    if ((outcome == AttemptOutcome::kPinMismatch || !ShouldResume(kept, identity, history.url)) &&
        !ForgetKeptBytes(facts.failure)) {
      FailDownload(FailureClass::kDisk);
      return DownloadEnd::kFailed;
    }
    UseUrl(inputs, history.url, request);
    Sleep(waitMs);
  }
}

// Starts the watchdog, whose handle a cancel needs to stop it first. Without
// it nothing bounds a stall, but the download still runs.
void StartWatchdog() {
  setupGlobals.watchdogThread.store(CreateThread(nullptr, 0, WatchTransfer, nullptr, 0, nullptr),
                                    std::memory_order_release);
}

}  // namespace

DownloadEnd DownloadInstaller(const WorkerInputs& inputs) {
  SetState(Downloading);
  downloadStartTick = GetTickCount();
  DownloadRequest request;
  // A malformed pin admits no installer, so nothing is fetched for it.
  if (!PrepareDownload(ChooseDownloadUrl(inputs.downloadUrl), request) ||
      request.pin == InstallerPin::kMalformed || !LookUpInternet()) {
    FailDownload(FailureClass::kOther);
    return DownloadEnd::kFailed;
  }
  if (!CreateInstallerFile(request.pin == InstallerPin::kPinned)) {
    FailDownload(FailureClass::kDisk);
    return DownloadEnd::kFailed;
  }
  StartWatchdog();
  const DownloadEnd end = DownloadWithRetries(inputs, request);
  // Taken over, the download is no longer the worker's: the file stays held
  // until the process ends, and the next run removes it.
  if (end == DownloadEnd::kTakenOver) return end;
  EndTransferWatch();
  SecureZeroMemory(proxyLogin, sizeof proxyLogin);
  if (end == DownloadEnd::kHeld) {
    runReport.stage = RunStage::kDownloaded;
    SetState(Downloaded);
    const SetupState ran = InstallerRun(InstallerFilePath(), inputs.launchArgument);
    if (ran == Failed) {
      // Why the installer's process could not be created.
      runReport.numbers[kDetail] = GetLastError();
      FailDownload(FailureClass::kOther);
    }
    SetState(ran);
  }
  DiscardInstallerFile();
  return end;
}

bool DownloadWorker(const WorkerInputs& inputs) {
  if (DownloadInstaller(inputs) == DownloadEnd::kTakenOver) return false;
  FinishWorker(CurrentState() == Finished);
  return true;
}
