// `zorva-tag serve --config FILE`: runs the tagging service until SIGTERM.
#pragma once

// Returns the exit code; throws ToolError for a start-up refusal.
int RunServe(int argc, char** argv);
