#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "cli/Arguments.h"

#include "cli/ExitCode.h"

// Writes "wrapper-tool COMMAND: MESSAGE" as one line on stderr and returns `code`.
int reportFailure(const char* command, ExitCode code, const std::string& message);

// Handles the parts every command shares: --help, usage errors. Returns -1
// when the command should go on, else the exit code to return.
int usageOutcome(const char* command, const char* usage, bool helpRequested, bool parsed,
                 const std::string& parseError);

// Parses a command that takes exactly `positionalCount` words (named in
// `expected` for the error) and handles --help and usage errors. Returns -1
// when the command should go on with `args`, else the exit code to return.
int parseCommand(int argc, char** argv, const char* command, const char* usage,
                 const std::vector<OptionDef>& options, size_t positionalCount,
                 const char* expected, ParsedArguments& args);
