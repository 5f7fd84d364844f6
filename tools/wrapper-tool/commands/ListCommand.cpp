#include <cinttypes>
#include <cstdio>
#include <string>

#include "cli/Arguments.h"
#include "commands/Commands.h"
#include "inspect/EntryReport.h"
#include "inspect/InstallerView.h"
#include "inspect/Json.h"
#include "cli/Messages.h"

namespace {

const char kCommand[] = "list";
const char kUsage[] =
    "usage: wrapper-tool list INSTALLER [--json]\n"
    "\n"
    "Lists the archive's entries in central-directory order, as the stub sees\n"
    "them: name (decoded: UTF-8 under flag bit 11, else Windows-1252), method,\n"
    "sizes, CRC-32 and kind (file, directory, symlink, or refused, with the\n"
    "reason), and the entry the stub would stop at.\n"
    "\n"
    "  --json   one JSON object on stdout instead of a table\n"
    "\n"
    "exit codes: 0 listed, 1 no archive found, 2 bad command line, 3 I/O error\n";

void printTable(const std::string& path, const InstallerView& view, const UnpackPlan& plan)
{
    const ZipReader& reader = view.reader();
    std::printf("%s: archive at offset %llu, %zu entries%s%s\n", path.c_str(),
                (unsigned long long)reader.archiveOffset(), reader.entries().size(),
                reader.zip64() ? ", Zip64" : "", view.isSigned() ? ", signed" : "");
    std::printf("%5s  %-9s  %-8s  %12s  %12s  %-8s  %s\n", "index", "kind", "method", "packed",
                "size", "crc32", "name");
    for (size_t i = 0; i < reader.entries().size(); ++i) {
        const ZipEntryInfo& entry = reader.entries()[i];
        const PlannedEntry& planned = plan.entries[i];
        std::printf("%5zu  %-9s  %-8s  %12llu  %12llu  %08x  %s\n", i, entryKindName(planned),
                    methodName(entry.compressionMethod), (unsigned long long)entry.compressedSize,
                    (unsigned long long)entry.uncompressedSize, unsigned(entry.crc32),
                    planned.name.c_str());
        if (planned.refused())
            std::printf("%5s  refused: %s\n", "", refusalText(planned.reason));
    }
    if (!plan.succeeds())
        std::printf("the stub stops at %s\n", refusalProblem(plan, plan.firstFailure).c_str());
}

void printJson(const std::string& path, const InstallerView& view, const UnpackPlan& plan)
{
    const ZipReader& reader = view.reader();
    JsonDocument out;
    out["installer"] = path;
    out["file_size"] = view.fileSize();
    out["signed"] = view.isSigned();
    out["archive_offset"] = reader.archiveOffset();
    out["zip64"] = reader.zip64();
    out["entries"] = JsonDocument::array();
    for (size_t i = 0; i < reader.entries().size(); ++i)
        out["entries"].push_back(entryJson(i, reader.entries()[i], plan.entries[i]));
    out["first_failure"] = plan.succeeds() ? JsonDocument(nullptr) : JsonDocument(plan.firstFailure);
    std::fputs(jsonText(out).c_str(), stdout);
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
    const UnpackPlan plan = planUnpackNamed(view.reader().entries());
    if (args.has("--json"))
        printJson(path, view, plan);
    else
        printTable(path, view, plan);
    return kExitOk;
}
