#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "cli/Arguments.h"
#include "commands/Commands.h"
#include "inspect/EntryReport.h"
#include "FileWriterCallback.h"
#include "inspect/InstallerView.h"
#include "cli/Messages.h"
#include "inspect/PayloadChecks.h"
#include "cli/Progress.h"

namespace fs = std::filesystem;

namespace {

const char kCommand[] = "extract";
const char kUsage[] =
    "usage: wrapper-tool extract INSTALLER DIR\n"
    "\n"
    "Unpacks the archive into DIR the way the stub unpacks it into its work\n"
    "area: central-directory order, each entry's folders first, names decoded\n"
    "as the stub decodes them, the entries the stub refuses (symbolic links,\n"
    "names that would leave DIR, that Windows cannot hold or that are too long)\n"
    "refused, every file checked against its size and CRC-32; the first\n"
    "failing entry ends the run and what was written before it stays. An\n"
    "archive with names that Windows takes for one file is refused before\n"
    "anything is written.\n"
    "\n"
    "exit codes: 0 unpacked, 1 an entry was refused or failed (or no archive),\n"
    "            2 bad command line, 3 I/O error\n";

// The folders an entry needs: its parent folders, and itself for a directory.
bool createEntryFolders(const fs::path& target, bool isDirectory)
{
    const fs::path folder = isDirectory ? target : target.parent_path();
    std::error_code code;
    fs::create_directories(folder, code);
    return !code;
}

// Carries out the unpack plan as the stub does, below `root`, under the
// decoded names (UTF-8).
int unpack(ZipReader& reader, const UnpackPlan& plan, const fs::path& root, uint64_t& written)
{
    const uint32_t count = uint32_t(reader.entries().size());
    uint64_t total = 0;
    for (const ZipEntryInfo& entry : reader.entries())
        total += entry.uncompressedSize;
    Progress progress("extracting", total);
    for (uint32_t i = 0; i < count; ++i) {
        const ZipEntryInfo& entry = reader.entries()[i];
        const PlannedEntry& planned = plan.entries[i];
        if (planned.refusedBeforeFolders())
            return reportFailure(kCommand, kExitRefused, "refused " + refusalProblem(plan, i));
        const fs::path target = root / fs::u8path(planned.path);
        // As in the stub, folders come first, also for an entry refused next.
        const bool foldersMade = createEntryFolders(target, planned.isDirectory);
        if (planned.refused())
            return reportFailure(kCommand, kExitRefused, "refused " + refusalProblem(plan, i));
        if (planned.action == EntryAction::MakeFolder) {
            if (!foldersMade)
                return reportFailure(kCommand, kExitIoError,
                                     entryLabel(i, planned) + ": cannot create the folder");
            continue;
        }
        const std::string targetName = target.string();
        FileWriterCallback sink(targetName.c_str(), 0);
        if (!reader.extract(i, sink))
            return reportFailure(kCommand, kExitRefused,
                                 entryLabel(i, planned) +
                                     ": cannot be written, or its size or CRC-32 does not match");
        written += entry.uncompressedSize;
        progress.advance(entry.uncompressedSize);
    }
    return kExitOk;
}

} // namespace

int runExtract(int argc, char** argv)
{
    ParsedArguments args;
    const int outcome =
        parseCommand(argc, argv, kCommand, kUsage, {}, 2, "INSTALLER and DIR", args);
    if (outcome >= 0)
        return outcome;

    std::string error;
    const std::string& path = args.positional[0];
    const fs::path root(args.positional[1]);
    InstallerView view;
    if (!view.open(path, error))
        return reportFailure(kCommand, kExitIoError, error);
    if (!view.archiveFound())
        return reportFailure(kCommand, kExitRefused,
                             view.reader().entriesOverlap()
                                 ? std::string(kOverlapProblem)
                                 : "no archive the stub could read in '" + path + "'");
    const UnpackPlan plan = planUnpackNamed(view.reader().entries());
    const std::string collision = collisionProblem(plan);
    if (!collision.empty())
        return reportFailure(kCommand, kExitRefused, "refused " + collision);
    std::error_code code;
    fs::create_directories(root, code);
    if (code)
        return reportFailure(kCommand, kExitIoError, "cannot create '" + root.string() + "': " + code.message());

    uint64_t written = 0;
    int result = unpack(view.reader(), plan, root, written);
    if (result == kExitOk)
        std::printf("extracted %zu entries (%llu bytes) into %s\n", view.reader().entries().size(),
                    (unsigned long long)written, root.string().c_str());
    return result;
}
