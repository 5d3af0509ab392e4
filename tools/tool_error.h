// The one error type of the tagging tool: a message for stderr and the exit
// code it ends with.
#pragma once

#include <stdexcept>
#include <string>

enum ToolExit : int {
  kExitOperationalError = 1,  // a file, key or input that cannot be used
  kExitUsageError = 2,        // a command line that cannot be obeyed
};

struct ToolError : std::runtime_error {
  ToolError(ToolExit exit, const std::string& message) : std::runtime_error(message), exitCode(exit) {}
  ToolExit exitCode;
};
