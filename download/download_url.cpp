#include "download/download_url.h"

const char16_t* ChooseDownloadUrl(const char16_t* tagUrl) {
  return tagUrl != nullptr ? tagUrl : kDefaultDownloadUrl;
}
