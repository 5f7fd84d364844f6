#include <cstdio>
#include <memory>
#include <string>

#include "cli/Arguments.h"
#include "commands/Commands.h"
#include "inspect/CountingSink.h"
#include "inspect/EntryReport.h"
#include "inspect/InstallerView.h"
#include "cli/Messages.h"
#include "inspect/PayloadChecks.h"
#include "cli/Progress.h"
#include "platform/OutputTree.h"

namespace {

const char kCommand[] = "extract";
const char kUsage[] =
    "usage: wrapper-tool extract INSTALLER DIR [--overwrite | --skip-existing]\n"
    "       wrapper-tool extract INSTALLER --test\n"
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
    "Nothing is written outside DIR: a link already inside it is refused,\n"
    "never followed. A file that is already there is refused unless told:\n"
    "  --overwrite      replace existing files (a link is replaced, its\n"
    "                   target left alone)\n"
    "  --skip-existing  keep existing files and go on with the next entry\n"
    "  --test           check every entry's size and CRC-32, write nothing\n"
    "Each file is written under a temporary name beside it and renamed into\n"
    "place only after its size and CRC-32 check: an entry that fails leaves\n"
    "the file already there (with --overwrite) byte for byte, and no temporary.\n"
    "\n"
    "exit codes: 0 unpacked, 1 an entry was refused or failed (or no archive),\n"
    "            2 bad command line, 3 I/O error\n";

struct ExtractTally {
    uint64_t written = 0;
    uint64_t skipped = 0;
};

// One file entry into the tree, or only checked (tree is null, --test).
int writeEntry(ZipReader& reader, uint32_t i, const ZipEntryInfo& entry, const PlannedEntry& planned,
               OutputTree* tree,
               ExistingFiles existing, ExtractTally& tally)
{
    if (tree == nullptr) {
        CountingSink sink;
        if (!reader.extract(i, sink))
            return reportFailure(kCommand, kExitRefused,
                                 entryLabel(i, planned) + ": its size or CRC-32 does not match");
        tally.written += entry.uncompressedSize;
        return kExitOk;
    }
    std::string error;
    std::unique_ptr<TreeFile> file;
    switch (tree->createFile(planned.path, existing, file, error)) {
    case OutputTree::Outcome::Skipped:
        ++tally.skipped;
        return kExitOk;
    case OutputTree::Outcome::Refused:
        return reportFailure(kCommand, kExitRefused, entryLabel(i, planned) + ": " + error);
    case OutputTree::Outcome::Failed:
        return reportFailure(kCommand, kExitIoError, entryLabel(i, planned) + ": " + error);
    case OutputTree::Outcome::Created:
        break;
    }
    if (!reader.extract(i, *file)) {
        file->discard();
        const std::string kept = "; nothing was written there (a file already there is kept as it was)";
        if (!file->reason().empty())
            return reportFailure(kCommand, kExitIoError,
                                 entryLabel(i, planned) + ": cannot write '" + tree->shown(planned.path) +
                                     "': " + file->reason() + kept);
        return reportFailure(kCommand, kExitRefused,
                             entryLabel(i, planned) + ": its size or CRC-32 does not match" + kept);
    }
    tally.written += entry.uncompressedSize;
    return kExitOk;
}

// Carries out the unpack plan as the stub does, below the tree (or only
// checks, without one), under the decoded names (UTF-8).
int unpack(ZipReader& reader, const UnpackPlan& plan, OutputTree* tree, ExistingFiles existing,
           ExtractTally& tally)
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
        // As in the stub, folders come first, also for an entry refused next.
        std::string folderError;
        const OutputTree::Outcome folders =
            tree == nullptr ? OutputTree::Outcome::Created
                            : tree->createFolders(planned.path, planned.isDirectory, folderError);
        if (folders == OutputTree::Outcome::Refused)
            return reportFailure(kCommand, kExitRefused, entryLabel(i, planned) + ": " + folderError);
        if (planned.refused())
            return reportFailure(kCommand, kExitRefused, "refused " + refusalProblem(plan, i));
        if (planned.action == EntryAction::MakeFolder) {
            if (folders != OutputTree::Outcome::Created)
                return reportFailure(kCommand, kExitIoError, entryLabel(i, planned) + ": " + folderError);
            continue;
        }
        const int written = writeEntry(reader, i, entry, planned, tree, existing, tally);
        if (written != kExitOk)
            return written;
        progress.advance(entry.uncompressedSize);
    }
    return kExitOk;
}

} // namespace

int runExtract(int argc, char** argv)
{
    ParsedArguments args;
    std::string error;
    bool parsed = parseArguments(argc, argv, 2, {{"--overwrite", false}, {"--skip-existing", false}, {"--test", false}},
                                 args, error);
    const bool test = args.has("--test");
    if (parsed && !args.helpRequested) {
        if (args.positional.size() != (test ? 1u : 2u)) {
            error = test ? "--test takes INSTALLER alone" : "expected INSTALLER and DIR";
            parsed = false;
        } else if (args.has("--overwrite") && args.has("--skip-existing")) {
            error = "give --overwrite or --skip-existing, not both";
            parsed = false;
        } else if (test && (args.has("--overwrite") || args.has("--skip-existing"))) {
            error = "--test writes nothing: it takes no --overwrite or --skip-existing";
            parsed = false;
        }
    }
    const int outcome = usageOutcome(kCommand, kUsage, args.helpRequested, parsed, error);
    if (outcome >= 0)
        return outcome;
    const ExistingFiles existing = args.has("--overwrite")       ? ExistingFiles::Overwrite
                                   : args.has("--skip-existing") ? ExistingFiles::Skip
                                                                 : ExistingFiles::Refuse;

    const std::string& path = args.positional[0];
    const std::string root = test ? std::string() : args.positional[1];
    InstallerView view;
    if (!view.open(path, error))
        return reportFailure(kCommand, kExitIoError, error);
    if (!view.archiveFound())
        return reportFailure(kCommand, kExitRefused, view.archiveProblem(path));
    const UnpackPlan plan = planUnpackNamed(view.reader().entries());
    const std::string collision = collisionProblem(plan);
    if (!collision.empty())
        return reportFailure(kCommand, kExitRefused, "refused " + collision);
    OutputTree tree;
    if (!test && !tree.open(root, error))
        return reportFailure(kCommand, kExitIoError, error);

    ExtractTally tally;
    int result = unpack(view.reader(), plan, test ? nullptr : &tree, existing, tally);
    if (result != kExitOk)
        return result;
    const size_t count = view.reader().entries().size();
    if (test)
        std::printf("tested %zu entries (%llu bytes): every size and CRC-32 matches\n", count,
                    (unsigned long long)tally.written);
    else
        std::printf("extracted %zu entries (%llu bytes) into %s\n", count, (unsigned long long)tally.written,
                    root.c_str());
    if (tally.skipped != 0)
        std::printf("kept %llu existing files (--skip-existing)\n", (unsigned long long)tally.skipped);
    return kExitOk;
}
