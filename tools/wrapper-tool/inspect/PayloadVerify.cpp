#include "inspect/PayloadVerify.h"

#include "EntryName.h"
#include "cli/Progress.h"
#include "inspect/EntryReport.h"
#include "inspect/EntryWorkers.h"
#include "platform/UsableCores.h"

namespace {

// Writes nothing: the workers hold the bytes to the sizes and CRC-32s.
class Discard : public EntrySink {
public:
    bool write(const uint8_t*, uint32_t) override { return true; }
    bool writeAt(uint64_t, const uint8_t*, uint32_t) override { return true; }
    bool finish() override { return true; }
};

uint64_t totalUnpackedBytes(const ZipReader& reader)
{
    uint64_t total = 0;
    for (const ZipEntryInfo& entry : reader.entries())
        total += entry.uncompressedSize;
    return total;
}

// The files under way on the workers, settled oldest first, so that their
// findings keep entry order among the plan's own.
class FileChecks {
public:
    FileChecks(const std::string& installer, ZipReader& reader, const UnpackPlan& plan, Findings& found)
        : reader_(reader), plan_(plan), found_(found), progress_("verifying", totalUnpackedBytes(reader)),
          threads_(usableCores()), workers_(installer, threads_, &plan.solid)
    {
    }

    void submit(uint32_t index)
    {
        settle(workers_.ahead() - 1);
        workers_.submit(index, reader_.entries()[index], reader_.chunkIndex(index), discard_);
    }

    void settle(size_t keep)
    {
        while (workers_.pending() > keep) {
            uint32_t index = 0;
            std::string why;
            const bool matched = workers_.waitOldest(index, why);
            const uint64_t size = reader_.entries()[index].uncompressedSize;
            const std::string label = entryLabel(index, plan_.entries[index]);
            if (matched) {
                found_.unpackedBytes += size;
            } else {
                found_.problems.push_back(label + ": cannot be decompressed, or its size or CRC-32 does not match");
                if (!why.empty())
                    found_.notes.push_back(label + ": " + why);
            }
            progress_.advance(size);
        }
    }

private:
    ZipReader& reader_;
    const UnpackPlan& plan_;
    Findings& found_;
    Progress progress_;
    unsigned threads_;
    Discard discard_; // declared before the workers: outlives them
    EntryWorkers workers_;
};

} // namespace

void checkEntries(const std::string& installer, ZipReader& reader, const UnpackPlan& plan, Findings& found)
{
    const uint32_t count = uint32_t(reader.entries().size());
    FileChecks files(installer, reader, plan, found);
    for (uint32_t i = 0; i < count; ++i) {
        const ZipEntryInfo& entry = reader.entries()[i];
        const PlannedEntry& planned = plan.entries[i];
        if (planned.refused()) {
            files.settle(0);
            found.problems.push_back(refusalProblem(plan, i) + "; the stub refuses it and stops");
            continue;
        }
        if (planned.encoding == NameEncoding::AnsiCodePage && planned.name != entry.fileName)
            found.notes.push_back(entryLabel(i, planned) +
                                  ": name is not plain ASCII and not marked UTF-8 (flag bit 11); "
                                  "the stub reads it in the ANSI code page, shown here as Windows-1252");
        if (planned.action == EntryAction::MakeFolder) {
            ++found.folders;
            continue;
        }
        ++found.files;
        if (entry.fileName == kInnerSetupName)
            found.innerSetup = true;
        if (planned.stagedUpdate)
            found.stagedUpdates.push_back(planned.name);
        files.submit(i);
    }
    files.settle(0);
}
