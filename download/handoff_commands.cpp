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

bool ComposeInstallerLocation(const char16_t* base, std::uint32_t run, InstallerLocation& location) {
  return location.folder.Append(base) && location.folder.Append(u"\\ZorvaSetup") &&
         location.file.Append(location.folder.Text()) &&
         location.file.Append(u"\\ZorvaInstaller-") && AppendCount(location.file, run) &&
         location.file.Append(u".exe");
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
