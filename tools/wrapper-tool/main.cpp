// wrapper-tool: builds, checks, lists and unpacks installers made of the stub
// and an appended ZIP payload, reading them exactly as the stub does.
#include <cstdio>
#include <cstring>

#include "deflate/BufferDeflater.h"
#include "commands/Commands.h"
#include "cli/ExitCode.h"
#include "cli/Version.h"

namespace {

const char kUsage[] =
    "usage: wrapper-tool COMMAND [ARGS] (wrapper-tool COMMAND --help for more)\n"
    "\n"
    "commands:\n"
    "  pack STUB DIR -o OUT.exe [--level N] [-j N] ...  append a ZIP of DIR to STUB\n"
    "  sign INSTALLER (--pkcs12 FILE | --cert F --key F) sign it (osslsigncode or signtool)\n"
    "  verify INSTALLER [--json]                        check it as the stub would unpack it\n"
    "  list INSTALLER [--json]                          the entries as the stub sees them\n"
    "  extract INSTALLER DIR                            unpack into DIR the way the stub does\n"
    "\n"
    "exit codes:\n"
    "  0  done (verify: the stub would unpack it and run the inner setup)\n"
    "  1  a check failed or the input was refused\n"
    "  2  bad command line\n"
    "  3  a file could not be read or written\n"
    "\n"
    "wrapper-tool --version prints its version and the stub's it packs for.\n";

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
    if (std::strcmp(command, "--version") == 0) {
        std::printf("wrapper-tool %s (packs for stub %s; deflate: %s, levels 1-%d)\n", WRAPPER_TOOL_VERSION,
                    WRAPPER_STUB_VERSION, deflaterName(), strongestDeflateLevel());
        return kExitOk;
    }
    if (std::strcmp(command, "sign") == 0)
        return runSign(argc, argv);
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
