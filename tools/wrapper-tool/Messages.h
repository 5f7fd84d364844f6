#pragma once
#include <string>

#include "ExitCode.h"

// Writes "wrapper-tool COMMAND: MESSAGE" as one line on stderr and returns `code`.
int reportFailure(const char* command, ExitCode code, const std::string& message);

// Handles the parts every command shares: --help, usage errors. Returns -1
// when the command should go on, else the exit code to return.
int usageOutcome(const char* command, const char* usage, bool helpRequested, bool parsed,
                 const std::string& parseError);
