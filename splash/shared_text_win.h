// How the painter reads a text the worker may replace at any moment.
#pragma once

#include <atomic>

// The text as it stands now. Alone in its file so that a test build can
// replace the texts right after the painter has read one, as the worker may.
const char16_t* ReadSharedText(const std::atomic<const char16_t*>& text);
