// Which URL the worker downloads from.
#pragma once

inline constexpr char16_t kDefaultDownloadUrl[] = u"https://api.zorva.app/client/download";

// The tag's URL unchanged, even when empty; the built-in one only for null.
const char16_t* ChooseDownloadUrl(const char16_t* tagUrl);
