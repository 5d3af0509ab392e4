// Reads the setup tag of its own file through the program's ReadSetupTag and
// prints what it found, then moves its own file away and asks again: the
// second answer must be the same record, read from nowhere.
// Lines "name=value" on stdout, texts in UTF-8, "<absent>" for a null field.
#include <windows.h>

#include <cstdio>

#include "tag/setup_tag.h"
#include "tests/wine/programs/probe_output_win.h"

namespace {

void PrintField(const char* name, const char16_t* text) {
  if (text == nullptr) {
    std::printf("%s=<absent>\n", name);
    return;
  }
  PrintText(name, text);
}

bool MoveOwnFileAway() {
  wchar_t path[MAX_PATH];
  wchar_t moved[MAX_PATH + 8];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  swprintf(moved, MAX_PATH + 8, L"%ls.moved", path);
  return MoveFileW(path, moved) != FALSE;
}

}  // namespace

int wmain() {
  const TagFields& first = ReadSetupTag();
  PrintField("headline", first.headline);
  PrintField("launchArgument", first.launchArgument);
  PrintField("downloadUrl", first.downloadUrl);
  std::printf("moved=%d\n", MoveOwnFileAway() ? 1 : 0);
  const TagFields& second = ReadSetupTag();
  const bool same = &second == &first && second.headline == first.headline &&
                    second.launchArgument == first.launchArgument &&
                    second.downloadUrl == first.downloadUrl;
  std::printf("second_call_same=%d\n", same ? 1 : 0);
  return 0;
}
