// The strings the installer run hands to the system: the three setup folders,
// the installer's command line, and the launcher call or the bare deep link.
// Portable, so every composition is tested natively; the Win32 edge
// (installer_run_win.cpp) only passes the results on.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/fixed_text.h"
#include "base/system_path.h"

// Every composed string gets room for the longest inputs at once: a 259-unit
// folder or file path plus the longest suffix (28 units), or the launcher
// parameters (55 units) around the longest launch argument a 767-byte tag
// payload can carry (383 units). Overflow is therefore unreachable with any
// real input; should it happen anyway, the composition reports it and the
// caller skips that system call rather than pass on a shortened string.
inline constexpr std::size_t kComposedCapacity = 1024;
using ComposedText = FixedText<kComposedCapacity>;

inline constexpr char16_t kLocalAppDataVariable[] = u"LOCALAPPDATA";

// The environment read returns 0 when the variable is missing or empty, and
// the size it needs (NUL included, so at least 261) when the value does not
// fit: then the buffer holds no text, and the folder counts as not found.
bool LocalAppDataFound(std::uint32_t environmentReadResult);

// Calls `create` with localAppData\Zorva, then ...\packages, then
// ...\SquirrelTemp, each extending the previous path. Returns false, and
// creates nothing further, if a path would not fit.
template <typename CreateFolder>
bool ForEachSetupFolder(const char16_t* localAppData, CreateFolder create) {
  static constexpr const char16_t* kSuffixes[] = {u"\\Zorva", u"\\packages", u"\\SquirrelTemp"};
  ComposedText path;
  if (!path.Append(localAppData)) return false;
  for (const char16_t* suffix : kSuffixes) {
    if (!path.Append(suffix)) return false;
    create(path.Text());
  }
  return true;
}

// The temporary folder, where the installer is written when the local
// application-data folder is not found.
inline constexpr char16_t kTempVariable[] = u"TEMP";

// Appends `count` in decimal digits.
bool AppendCount(ComposedText& text, std::uint32_t count);

// Where the worker writes the installer: a folder of the setup's own,
// `base`\ZorvaSetup, beside the product folder rather than in it (that one is
// the installer's, which may clean it while it runs), and the file in it,
// named after the `run` (the process): an installer that a cancelled run left
// running keeps its file, which the next run can neither write nor take for
// its own.
struct InstallerLocation {
  ComposedText folder;
  ComposedText file;
};

bool ComposeInstallerLocation(const char16_t* base, std::uint32_t run, InstallerLocation& location);

// Every run's installer file in the folder, as a search pattern after the
// folder's path.
inline constexpr char16_t kAnyRunsInstaller[] = u"\\ZorvaInstaller-*.exe";

// The downloaded file's path in double quotes, so spaces keep it one token,
// then " --silent".
bool ComposeInstallerCommandLine(const char16_t* filePath, ComposedText& commandLine);

// What the shell is asked to open once the installer has ended: Update.exe in
// the product folder with the launcher parameters, or, without a local
// application-data folder (null), the deep link itself with no parameters.
struct HandOff {
  ComposedText file;
  ComposedText parameters;
  bool hasParameters = false;
};

// launchArgument may be null (no tag, or a tag without one); it is copied
// verbatim: no quoting, escaping or encoding.
bool ComposeHandOff(const char16_t* localAppData, const char16_t* launchArgument,
                    HandOff& handOff);
