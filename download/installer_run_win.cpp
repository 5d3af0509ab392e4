#include "download/installer_run_win.h"

#include <windows.h>

#include "base/system_functions_win.h"
#include "base/system_text_win.h"
#include "download/handoff_commands.h"
#include "download/run_ping.h"

// The process-creation call takes the structure's size as a version check.
static_assert(sizeof(void*) != 4 || sizeof(STARTUPINFOW) == 68);

namespace {

void CreateSetupFolders(const char16_t* localAppData) {
  // An existing folder or a failure changes nothing, so results are ignored.
  ForEachSetupFolder(localAppData,
                     [](const char16_t* folder) { CreateDirectoryW(SystemText(folder), nullptr); });
}

bool RunInstallerToEnd(const char16_t* filePath) {
  ComposedText commandLine;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  const bool started =
      ComposeInstallerCommandLine(filePath, commandLine) &&
      CreateProcessW(nullptr, SystemText(commandLine.WritableText()), nullptr, nullptr, FALSE,
                     CREATE_NO_WINDOW | NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup, &process);
  if (!started) return false;
  runReport.stage = RunStage::kInstallerStarted;
  const DWORD startTick = GetTickCount();
  // A failing installer still hands off; the run's report tells how it ended.
  WaitForSingleObject(process.hProcess, INFINITE);
  runReport.numbers[kInstallerMs] = GetTickCount() - startTick;
  DWORD exitCode = 0;
  if (GetExitCodeProcess(process.hProcess, &exitCode)) runReport.numbers[kInstallerExit] = exitCode;
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return true;
}

void LaunchApplication(const char16_t* localAppData, const char16_t* launchArgument) {
  HandOff handOff;
  if (!ComposeHandOff(localAppData, launchArgument, handOff)) return;
  const wchar_t* parameters = handOff.hasParameters ? SystemText(handOff.parameters.Text()) : nullptr;
  if (!LookUpShell()) return;
  systemFunctions.ShellExecuteW(nullptr, nullptr, SystemText(handOff.file.Text()), parameters,
                                nullptr, SW_SHOW);
}

}  // namespace

SetupState InstallerRun(const char16_t* filePath, const char16_t* launchArgument) {
  char16_t localAppData[kSystemPathCapacity];
  DWORD read = GetEnvironmentVariableW(SystemText(kLocalAppDataVariable), SystemText(localAppData),
                                       kSystemPathCapacity);
  bool found = LocalAppDataFound(read);
  if (found) CreateSetupFolders(localAppData);
  if (!RunInstallerToEnd(filePath)) return Failed;
  LaunchApplication(found ? localAppData : nullptr, launchArgument);
  return Finished;
}
