#include <cstdio>
#include <memory>
#include <string>

#include "cli/Arguments.h"
#include "commands/Commands.h"
#include "inspect/CountingSink.h"
#include "inspect/EntryKind.h"
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
    "area: central-directory order, each entry's folders first, symbolic links\n"
    "and names that would leave DIR refused, every file checked against its\n"
    "size and CRC-32; the first failing entry ends the run and what was written\n"
    "before it stays. An archive with names that Windows takes for one file is\n"
    "refused before anything is written.\n"
    "\n"
    "Nothing is written outside DIR: a link already inside it is refused,\n"
    "never followed. A file that is already there is refused unless told:\n"
    "  --overwrite      replace existing files (a link is replaced, its\n"
    "                   target left alone)\n"
    "  --skip-existing  keep existing files and go on with the next entry\n"
    "  --test           check every entry's size and CRC-32, write nothing\n"
    "A file whose entry fails its size or CRC-32 check is removed.\n"
    "\n"
    "exit codes: 0 unpacked, 1 an entry was refused or failed (or no archive),\n"
    "            2 bad command line, 3 I/O error\n";

std::string entryLabel(uint32_t index, const std::string& name)
{
    return "entry " + std::to_string(index) + " '" + name + "'";
}

struct ExtractTally {
    uint64_t written = 0;
    uint64_t skipped = 0;
};

// One file entry into the tree, or only checked (tree is null, --test).
int writeEntry(ZipReader& reader, uint32_t i, const ZipEntryInfo& entry, OutputTree* tree,
               ExistingFiles existing, ExtractTally& tally)
{
    if (tree == nullptr) {
        CountingSink sink;
        if (!reader.extract(i, sink))
            return reportFailure(kCommand, kExitRefused,
                                 entryLabel(i, entry.fileName) + ": its size or CRC-32 does not match");
        tally.written += entry.uncompressedSize;
        return kExitOk;
    }
    std::string error;
    std::unique_ptr<TreeFile> file;
    switch (tree->createFile(entry.fileName, existing, file, error)) {
    case OutputTree::Outcome::Skipped:
        ++tally.skipped;
        return kExitOk;
    case OutputTree::Outcome::Refused:
        return reportFailure(kCommand, kExitRefused, entryLabel(i, entry.fileName) + ": " + error);
    case OutputTree::Outcome::Failed:
        return reportFailure(kCommand, kExitIoError, entryLabel(i, entry.fileName) + ": " + error);
    case OutputTree::Outcome::Created:
        break;
    }
    if (!reader.extract(i, *file)) {
        file->discard();
        return reportFailure(kCommand, kExitRefused,
                             entryLabel(i, entry.fileName) + ": cannot be written to '" +
                                 tree->shown(entry.fileName) +
                                 "', or its size or CRC-32 does not match; the file was removed");
    }
    tally.written += entry.uncompressedSize;
    return kExitOk;
}

int unpack(ZipReader& reader, OutputTree* tree, const std::string& root, ExistingFiles existing,
           ExtractTally& tally)
{
    const uint32_t count = uint32_t(reader.entries().size());
    uint64_t total = 0;
    for (const ZipEntryInfo& entry : reader.entries())
        total += entry.uncompressedSize;
    Progress progress("extracting", total);
    for (uint32_t i = 0; i < count; ++i) {
        ZipEntryInfo entry;
        if (!reader.getEntryInfo(i, entry))
            return reportFailure(kCommand, kExitRefused, "entry " + std::to_string(i) + ": cannot be read");
        const EntryKind kind = classifyEntry(entry);
        if (kind == EntryKind::Refused)
            return reportFailure(kCommand, kExitRefused,
                                 entryLabel(i, entry.fileName) + ": refused, name would leave " + root);
        // As in the stub, folders come first, also for an entry refused next.
        std::string folderError;
        const OutputTree::Outcome folders = tree == nullptr ? OutputTree::Outcome::Created
                                                            : tree->createFolders(entry.fileName, entry.isDirectory(),
                                                                                  folderError);
        if (folders == OutputTree::Outcome::Refused)
            return reportFailure(kCommand, kExitRefused, entryLabel(i, entry.fileName) + ": " + folderError);
        const bool foldersMade = folders == OutputTree::Outcome::Created;
        if (kind == EntryKind::Symlink)
            return reportFailure(kCommand, kExitRefused,
                                 entryLabel(i, entry.fileName) + ": refused, symbolic link");
        if (kind == EntryKind::Directory) {
            if (!foldersMade)
                return reportFailure(kCommand, kExitIoError, entryLabel(i, entry.fileName) + ": " + folderError);
            continue;
        }
        const int written = writeEntry(reader, i, entry, tree, existing, tally);
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
        return reportFailure(kCommand, kExitRefused,
                             view.reader().entriesOverlap()
                                 ? std::string(kOverlapProblem)
                                 : "no archive the stub could read in '" + path + "'");
    const std::string collision = nameCollisionProblem(namedEntries(view.reader()), true);
    if (!collision.empty())
        return reportFailure(kCommand, kExitRefused, "refused " + collision);
    OutputTree tree;
    if (!test && !tree.open(root, error))
        return reportFailure(kCommand, kExitIoError, error);

    ExtractTally tally;
    int result = unpack(view.reader(), test ? nullptr : &tree, test ? "the work area" : root, existing, tally);
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
