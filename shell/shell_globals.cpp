#include "shell/shell_globals.h"

#include <cstdint>

#include "splash/fallback_link.h"
#include "state/setup_state.h"
#include "tag/setup_tag.h"

namespace {

ThreadHandle NoWorkerThread() {
  // INVALID_HANDLE_VALUE: no worker has been started.
  return reinterpret_cast<ThreadHandle>(static_cast<std::intptr_t>(-1));
}

}  // namespace

ShellGlobals shellGlobals{
    .workerThread{NoWorkerThread()},
    .inProgressObject{nullptr},
    .cancelQuestion{kDefaultCancelQuestion},
    .cancelTitle{kDefaultCancelTitle},
};

void ResetShellGlobals() {
  shellGlobals.workerThread.store(NoWorkerThread(), std::memory_order_release);
  shellGlobals.inProgressObject.store(nullptr, std::memory_order_release);
  shellGlobals.cancelQuestion.store(kDefaultCancelQuestion, std::memory_order_release);
  shellGlobals.cancelTitle.store(kDefaultCancelTitle, std::memory_order_release);
}

namespace {

// Absent, the built-in text stays; present and empty, the text is empty.
void TakeText(const char16_t* tagText, std::atomic<const char16_t*>& shown) {
  if (tagText != nullptr) shown.store(tagText, std::memory_order_release);
}

}  // namespace

void TakeTagTexts(const TagFields& tag) {
  TakeText(tag.headline, setupGlobals.headline);
  TakeText(tag.failureText, setupGlobals.failureHeadline);
  TakeText(tag.hint, setupGlobals.hint);
  TakeText(tag.cancelQuestion, shellGlobals.cancelQuestion);
  TakeText(tag.cancelTitle, shellGlobals.cancelTitle);
  fallbackLink = FallbackLink{tag.fallbackPage, tag.fallbackText};
}
