#include "cli/SolidArguments.h"

bool parseSolidArguments(const ParsedArguments& args, bool& wanted, SolidOptions& solid, std::string& error)
{
    wanted = args.has("--solid");
    int block = int(solid.blockSize >> 20);
    int prefix = int(solid.prefixPercent);
    if (!wanted) {
        if (args.has("--solid-block") || args.has("--solid-prefix"))
            error = "--solid-block and --solid-prefix go with --solid";
    } else if (args.has("--level") && (!parseSmallNumber(args.value("--level"), solid.level) || solid.level < 1 ||
                                       solid.level > 22)) {
        error = "--level takes a number from 1 to 22 with --solid";
    } else if (args.has("--solid-block") &&
               (!parseSmallNumber(args.value("--solid-block"), block) || block < 1 || block > 62)) {
        error = "--solid-block takes a number of MiB from 1 to 62";
    } else if (args.has("--solid-prefix") &&
               (!parseSmallNumber(args.value("--solid-prefix"), prefix) || prefix > 90)) {
        error = "--solid-prefix takes a percentage from 0 to 90";
    }
    solid.blockSize = uint64_t(block) << 20;
    solid.prefixPercent = uint32_t(prefix);
    return error.empty();
}
