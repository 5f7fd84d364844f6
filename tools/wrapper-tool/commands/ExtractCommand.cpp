#include <cstdio>
#include <deque>
#include <memory>
#include <string>

#include "cli/Arguments.h"
#include "commands/Commands.h"
#include "inspect/EntryWorkers.h"
#include "inspect/EntryReport.h"
#include "inspect/InstallerView.h"
#include "inspect/Json.h"
#include "cli/Messages.h"
#include "inspect/PayloadChecks.h"
#include "cli/Progress.h"
#include "platform/OutputTree.h"
#include "platform/UsableCores.h"

namespace {

const char kCommand[] = "extract";
const char kUsage[] =
    "usage: wrapper-tool extract INSTALLER DIR [--overwrite | --skip-existing] [--json] [--quiet]\n"
    "       wrapper-tool extract INSTALLER --test [--json] [--quiet]\n"
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
    "  --json           print one JSON document instead of the summary\n"
    "  --quiet          no progress and no summary; errors only\n"
    "Each file is written under a temporary name beside it and renamed into\n"
    "place only after its size and CRC-32 check: an entry that fails leaves\n"
    "the file already there (with --overwrite) byte for byte, and no temporary.\n"
    "Solid installers (pack --solid) are read as the stub reads them: each block\n"
    "decoded once, its files cut out of it and checked the same way.\n"
    "\n"
    "exit codes: 0 unpacked, 1 an entry was refused or failed (or no archive),\n"
    "            2 bad command line, 3 I/O error\n";

struct ExtractTally {
    uint64_t written = 0;
    uint64_t skipped = 0;
};

// Passes an entry's bytes to its temporary; the rename waits until every
// entry before it is in place (finishPending), so a failure keeps the order.
class HeldFile : public EntrySink {
public:
    explicit HeldFile(TreeFile* file) : file_(file) {}
    bool write(const uint8_t* data, uint32_t size) override { return file_ == nullptr || file_->write(data, size); }
    bool writeAt(uint64_t offset, const uint8_t* data, uint32_t size) override
    {
        return file_ == nullptr || file_->writeAt(offset, data, size);
    }
    bool finish() override { return true; }

private:
    TreeFile* file_;
};

// One file entry a worker extracts: into its temporary, or only checked.
struct PendingEntry {
    uint32_t index;
    std::unique_ptr<TreeFile> file;
    HeldFile sink{nullptr};
};

// Carries out the unpack plan as the stub does, below the tree (or only
// checks, without one), under the decoded names (UTF-8). The main thread
// walks the plan in order (folders, refusals, files made); workers
// extract the files; each file is renamed into place, counted and, on
// failure, reported in entry order, so the first failing entry is the one
// named whatever the timing.
class Unpacker {
public:
    Unpacker(ZipReader& reader, const UnpackPlan& plan, OutputTree* tree, ExistingFiles existing,
             const std::string& installer, ExtractTally& tally, bool quiet)
        : reader_(reader), plan_(plan), tree_(tree), existing_(existing), tally_(tally), quiet_(quiet),
          threads_(usableCores()), workers_(installer, threads_, &plan.solid)
    {
    }

    int run()
    {
        uint64_t total = 0;
        for (const ZipEntryInfo& entry : reader_.entries())
            total += entry.uncompressedSize;
        progress_.reset(new Progress("extracting", total, quiet_ ? Progress::Mode::Quiet : Progress::Mode::Auto));
        const uint32_t count = uint32_t(reader_.entries().size());
        for (uint32_t i = 0; i < count; ++i) {
            const int step = entry(i);
            if (step != kExitOk)
                return step;
        }
        return finishPending(0);
    }

private:
    int entry(uint32_t i)
    {
        const PlannedEntry& planned = plan_.entries[i];
        if (planned.refusedBeforeFolders())
            return fail(kExitRefused, "refused " + refusalProblem(plan_, i));
        // As in the stub, folders come first, also for an entry refused next.
        std::string folderError;
        const OutputTree::Outcome folders =
            tree_ == nullptr ? OutputTree::Outcome::Created
                             : tree_->createFolders(planned.path, planned.isDirectory, folderError);
        if (folders == OutputTree::Outcome::Refused)
            return fail(kExitRefused, entryLabel(i, planned) + ": " + folderError);
        if (planned.refused())
            return fail(kExitRefused, "refused " + refusalProblem(plan_, i));
        if (planned.action == EntryAction::MakeFolder)
            return folders == OutputTree::Outcome::Created ? kExitOk
                                                           : fail(kExitIoError, entryLabel(i, planned) + ": " + folderError);
        std::unique_ptr<PendingEntry> pending(new PendingEntry{i, nullptr});
        if (tree_ != nullptr) {
            std::string error;
            switch (tree_->createFile(planned.path, existing_, pending->file, error)) {
            case OutputTree::Outcome::Skipped:
                ++tally_.skipped;
                return kExitOk;
            case OutputTree::Outcome::Refused:
                return fail(kExitRefused, entryLabel(i, planned) + ": " + error);
            case OutputTree::Outcome::Failed:
                return fail(kExitIoError, entryLabel(i, planned) + ": " + error);
            case OutputTree::Outcome::Created:
                break;
            }
            pending->sink = HeldFile(pending->file.get());
        }
        const int settled = finishPending(workers_.ahead() - 1);
        if (settled != kExitOk)
            return settled;
        workers_.submit(i, reader_.entries()[i], reader_.chunkIndex(i), pending->sink);
        pending_.push_back(std::move(pending));
        return kExitOk;
    }

    // Settles the oldest entries under way until at most `keep` are left.
    int finishPending(size_t keep)
    {
        while (pending_.size() > keep) {
            uint32_t index = 0;
            std::string why;
            const bool delivered = workers_.waitOldest(index, why);
            std::unique_ptr<PendingEntry> done(std::move(pending_.front()));
            pending_.pop_front();
            const PlannedEntry& planned = plan_.entries[index];
            TreeFile* file = done->file.get();
            const bool placed = delivered && (file == nullptr || file->finish());
            if (!placed) {
                if (file != nullptr)
                    file->discard();
                return entryFailure(index, planned, file, why);
            }
            tally_.written += reader_.entries()[index].uncompressedSize;
            progress_->advance(reader_.entries()[index].uncompressedSize);
        }
        return kExitOk;
    }

    // `why` names the failing chunk of a chunked entry; empty for a whole one.
    int entryFailure(uint32_t i, const PlannedEntry& planned, TreeFile* file, const std::string& why)
    {
        const std::string problem = why.empty() ? "its size or CRC-32 does not match" : why;
        if (file == nullptr)
            return reportFailure(kCommand, kExitRefused, entryLabel(i, planned) + ": " + problem);
        const std::string kept = "; nothing was written there (a file already there is kept as it was)";
        if (!file->reason().empty())
            return reportFailure(kCommand, kExitIoError,
                                 entryLabel(i, planned) + ": cannot write '" + tree_->shown(planned.path) +
                                     "': " + file->reason() + kept);
        return reportFailure(kCommand, kExitRefused, entryLabel(i, planned) + ": " + problem + kept);
    }

    // An entry before this one that failed is the one reported.
    int fail(ExitCode code, const std::string& message)
    {
        const int earlier = finishPending(0);
        return earlier != kExitOk ? earlier : reportFailure(kCommand, code, message);
    }

    ZipReader& reader_;
    const UnpackPlan& plan_;
    OutputTree* tree_;
    ExistingFiles existing_;
    ExtractTally& tally_;
    bool quiet_;
    std::unique_ptr<Progress> progress_;
    unsigned threads_;
    // Declared before the workers: destroyed after them, once no worker writes into them.
    std::deque<std::unique_ptr<PendingEntry>> pending_;
    EntryWorkers workers_;
};

} // namespace

int runExtract(int argc, char** argv)
{
    ParsedArguments args;
    std::string error;
    bool parsed = parseArguments(argc, argv, 2,
                                 {{"--overwrite", false}, {"--skip-existing", false}, {"--test", false},
                                  {"--json", false}, {"--quiet", false}},
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
    const bool json = args.has("--json");
    const bool quiet = json || args.has("--quiet");
    int result = Unpacker(view.reader(), plan, test ? nullptr : &tree, existing, path, tally, quiet).run();
    if (result != kExitOk)
        return result;
    const size_t count = view.reader().entries().size();
    if (json) {
        JsonDocument out;
        out["installer"] = path;
        out["destination"] = test ? JsonDocument(nullptr) : JsonDocument(root);
        out["test"] = test;
        out["entries"] = count;
        out["bytes"] = tally.written;
        out["kept_existing"] = tally.skipped;
        out["solid_blocks"] = plan.solid.blocks.size();
        // The document alone: kept files are counted in it, not in a line after it.
        std::fputs(jsonText(out).c_str(), stdout);
        return kExitOk;
    } else if (quiet) {
        return kExitOk;
    } else if (test)
        std::printf("tested %zu entries (%llu bytes): every size and CRC-32 matches\n", count,
                    (unsigned long long)tally.written);
    else
        std::printf("extracted %zu entries (%llu bytes) into %s\n", count, (unsigned long long)tally.written,
                    root.c_str());
    if (tally.skipped != 0)
        std::printf("kept %llu existing files (--skip-existing)\n", (unsigned long long)tally.skipped);
    return kExitOk;
}
