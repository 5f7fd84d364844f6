#include <cinttypes>
#include <cstdio>
#include <string>

#include "cli/Arguments.h"
#include "commands/Commands.h"
#include "inspect/EntryKind.h"
#include "inspect/InstallerView.h"
#include "inspect/Json.h"
#include "cli/Messages.h"

namespace {

const char kCommand[] = "list";
const char kUsage[] =
    "usage: wrapper-tool list INSTALLER [--json]\n"
    "\n"
    "Lists the archive's entries in central-directory order, as the stub sees\n"
    "them: name, method, sizes, CRC-32 and kind (file, directory, symlink, or\n"
    "refused for a name that would leave the work area).\n"
    "\n"
    "  --json   one JSON object on stdout instead of a table\n"
    "\n"
    "exit codes: 0 listed, 1 no archive found, 2 bad command line, 3 I/O error\n";

const char* methodName(uint16_t method)
{
    switch (method) {
    case 0:
        return "stored";
    case 8:
        return "deflated";
    default:
        return "other";
    }
}

void printTable(const std::string& path, const InstallerView& view)
{
    const ZipReader& reader = view.reader();
    std::printf("%s: archive at offset %llu, %zu entries%s%s\n", path.c_str(),
                (unsigned long long)reader.archiveOffset(), reader.entries().size(),
                reader.zip64() ? ", Zip64" : "", view.isSigned() ? ", signed" : "");
    std::printf("%5s  %-9s  %-8s  %12s  %12s  %-8s  %s\n", "index", "kind", "method", "packed",
                "size", "crc32", "name");
    uint32_t index = 0;
    for (const ZipEntryInfo& entry : reader.entries()) {
        std::printf("%5u  %-9s  %-8s  %12llu  %12llu  %08x  %s\n", index++,
                    entryKindName(classifyEntry(entry)), methodName(entry.compressionMethod),
                    (unsigned long long)entry.compressedSize, (unsigned long long)entry.uncompressedSize,
                    unsigned(entry.crc32), entry.fileName.c_str());
    }
}

void printJson(const std::string& path, const InstallerView& view)
{
    const ZipReader& reader = view.reader();
    std::printf("{\"installer\": %s, \"file_size\": %llu, \"signed\": %s, \"archive_offset\": %llu, "
                "\"zip64\": %s, \"entries\": [",
                jsonString(path).c_str(), (unsigned long long)view.fileSize(),
                view.isSigned() ? "true" : "false", (unsigned long long)reader.archiveOffset(),
                reader.zip64() ? "true" : "false");
    uint32_t index = 0;
    for (const ZipEntryInfo& entry : reader.entries()) {
        std::printf("%s\n  {\"index\": %u, \"name\": %s, \"kind\": \"%s\", \"method\": %u, "
                    "\"method_name\": \"%s\", \"compressed_size\": %llu, \"uncompressed_size\": %llu, "
                    "\"crc32\": %u}",
                    index == 0 ? "" : ",", index, jsonString(entry.fileName).c_str(),
                    entryKindName(classifyEntry(entry)), unsigned(entry.compressionMethod),
                    methodName(entry.compressionMethod), (unsigned long long)entry.compressedSize,
                    (unsigned long long)entry.uncompressedSize, unsigned(entry.crc32));
        ++index;
    }
    std::printf("\n]}\n");
}

} // namespace

int runList(int argc, char** argv)
{
    ParsedArguments args;
    const int outcome =
        parseCommand(argc, argv, kCommand, kUsage, {{"--json", false}}, 1, "INSTALLER", args);
    if (outcome >= 0)
        return outcome;

    std::string error;
    const std::string& path = args.positional[0];
    InstallerView view;
    if (!view.open(path, error))
        return reportFailure(kCommand, kExitIoError, error);
    if (!view.archiveFound())
        return reportFailure(kCommand, kExitRefused,
                             view.archiveAfterSignature()
                                 ? "no archive before the signature block (one follows it: signed before packing?)"
                                 : view.archiveProblem(path));
    if (args.has("--json"))
        printJson(path, view);
    else
        printTable(path, view);
    return kExitOk;
}
