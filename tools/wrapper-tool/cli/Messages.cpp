#include "cli/Messages.h"

#include <cstdio>

int reportFailure(const char* command, ExitCode code, const std::string& message)
{
    std::fprintf(stderr, "wrapper-tool %s: %s\n", command, message.c_str());
    return code;
}

int usageOutcome(const char* command, const char* usage, bool helpRequested, bool parsed,
                 const std::string& parseError)
{
    if (!parsed) {
        std::fprintf(stderr, "wrapper-tool %s: %s (see wrapper-tool %s --help)\n", command,
                     parseError.c_str(), command);
        return kExitUsage;
    }
    if (helpRequested) {
        std::fputs(usage, stdout);
        return kExitOk;
    }
    return -1;
}

int parseCommand(int argc, char** argv, const char* command, const char* usage,
                 const std::vector<OptionDef>& options, size_t positionalCount,
                 const char* expected, ParsedArguments& args)
{
    std::string error;
    bool parsed = parseArguments(argc, argv, 2, options, args, error);
    if (parsed && !args.helpRequested && args.positional.size() != positionalCount) {
        error = std::string("expected ") + expected;
        parsed = false;
    }
    return usageOutcome(command, usage, args.helpRequested, parsed, error);
}
