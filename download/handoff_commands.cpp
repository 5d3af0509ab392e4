#include "download/handoff_commands.h"

namespace {

constexpr char16_t kDeepLinkScheme[] = u"zorva://";

bool AppendLaunchArgument(ComposedText& text, const char16_t* launchArgument) {
  return launchArgument == nullptr || text.Append(launchArgument);
}

bool ComposeLauncherCall(const char16_t* localAppData, const char16_t* launchArgument,
                         HandOff& handOff) {
  handOff.hasParameters = true;
  return handOff.file.Append(localAppData) && handOff.file.Append(u"\\Zorva\\Update.exe") &&
         handOff.parameters.Append(u"--processStart \"Zorva.exe\" --process-start-args \"") &&
         handOff.parameters.Append(kDeepLinkScheme) &&
         AppendLaunchArgument(handOff.parameters, launchArgument) &&
         handOff.parameters.Append(u"\"");
}

bool ComposeBareDeepLink(const char16_t* launchArgument, HandOff& handOff) {
  handOff.hasParameters = false;
  return handOff.file.Append(kDeepLinkScheme) && AppendLaunchArgument(handOff.file, launchArgument);
}

}  // namespace

bool LocalAppDataFound(std::uint32_t environmentReadResult) {
  return environmentReadResult != 0 && environmentReadResult < kSystemPathCapacity;
}

bool AppendCount(ComposedText& text, std::uint32_t count) {
  char16_t digits[11];
  char16_t* first = digits + 10;
  *first = 0;
  do {
    *--first = static_cast<char16_t>(u'0' + count % 10);
    count /= 10;
  } while (count != 0);
  return text.Append(first);
}

namespace {

constexpr char16_t kInstallerPrefix[] = u"ZorvaInstaller-";
constexpr char16_t kInstallerSuffix[] = u".exe";

// Whether `text` starts with `start`; `rest` then points past it.
bool StartsWith(const char16_t* text, const char16_t* start, const char16_t*& rest) {
  for (; *start != 0; ++text, ++start)
    if (*text != *start) return false;
  rest = text;
  return true;
}

}  // namespace

bool ComposeInstallerLocation(const char16_t* base, std::uint32_t run, InstallerLocation& location) {
  return location.folder.Append(base) && location.folder.Append(u"\\ZorvaSetup") &&
         location.file.Append(location.folder.Text()) && location.file.Append(u"\\") &&
         location.file.Append(kInstallerPrefix) && AppendCount(location.file, run) &&
         location.file.Append(kInstallerSuffix);
}

bool ComposeLeftInstallerPattern(const InstallerLocation& location, ComposedText& pattern) {
  return pattern.Append(location.folder.Text()) && pattern.Append(u"\\") &&
         pattern.Append(kInstallerPrefix) && pattern.Append(u"*") &&
         pattern.Append(kInstallerSuffix);
}

bool ReadInstallerRun(const char16_t* name, std::uint32_t& run) {
  const char16_t* digits;
  if (!StartsWith(name, kInstallerPrefix, digits)) return false;
  std::uint64_t value = 0;
  const char16_t* end = digits;
  for (; *end >= u'0' && *end <= u'9'; ++end) {
    value = value * 10 + static_cast<std::uint64_t>(*end - u'0');
    if (value > 0xFFFFFFFFu) return false;
  }
  // Digits as AppendCount writes them: at least one, no leading zero.
  const char16_t* rest;
  if (end == digits || (*digits == u'0' && end - digits > 1) ||
      !StartsWith(end, kInstallerSuffix, rest) || *rest != 0) {
    return false;
  }
  run = static_cast<std::uint32_t>(value);
  return true;
}

bool ComposeFolderFile(const InstallerLocation& location, const char16_t* name, ComposedText& path) {
  return path.Append(location.folder.Text()) && path.Append(u"\\") && path.Append(name);
}

bool ComposeInstallerCommandLine(const char16_t* filePath, ComposedText& commandLine) {
  return commandLine.Append(u"\"") && commandLine.Append(filePath) &&
         commandLine.Append(u"\" --silent");
}

bool ComposeHandOff(const char16_t* localAppData, const char16_t* launchArgument,
                    HandOff& handOff) {
  if (localAppData == nullptr) return ComposeBareDeepLink(launchArgument, handOff);
  return ComposeLauncherCall(localAppData, launchArgument, handOff);
}
