// wrapper-tool: builds, checks, lists and unpacks installers made of the stub
// and an appended ZIP payload, reading them exactly as the stub does.
#include <cstdio>
#include <cstring>

#include "Commands.h"
#include "ExitCode.h"

namespace {

const char kUsage[] =
    "usage: wrapper-tool COMMAND [ARGS] (wrapper-tool COMMAND --help for more)\n"
    "\n"
    "commands:\n"
    "  pack STUB DIR -o OUT.exe [--level N] [--zip64]   append a ZIP of DIR to STUB\n"
    "  verify INSTALLER                                 check it as the stub would unpack it\n"
    "  list INSTALLER [--json]                          the entries as the stub sees them\n"
    "  extract INSTALLER DIR                            unpack into DIR the way the stub does\n"
    "\n"
    "exit codes:\n"
    "  0  done (verify: the stub would unpack it and run the inner setup)\n"
    "  1  a check failed or the input was refused\n"
    "  2  bad command line\n"
    "  3  a file could not be read or written\n";

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    const char* command = argv[1];
    if (std::strcmp(command, "--help") == 0 || std::strcmp(command, "-h") == 0 ||
        std::strcmp(command, "help") == 0) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (std::strcmp(command, "pack") == 0)
        return runPack(argc, argv);
    if (std::strcmp(command, "verify") == 0)
        return runVerify(argc, argv);
    if (std::strcmp(command, "list") == 0)
        return runList(argc, argv);
    if (std::strcmp(command, "extract") == 0)
        return runExtract(argc, argv);
    std::fprintf(stderr, "wrapper-tool: unknown command '%s' (see wrapper-tool --help)\n", command);
    return kExitUsage;
}
