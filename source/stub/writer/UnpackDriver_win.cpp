#include "UnpackDriver_win.h"

#include <windows.h>

#include <string>
#include <vector>

#include "AnsiText_win.h"
#include "EntryFolders_win.h"
#include "EntryResult_win.h"
#include "FileMapping_win.h"
#include "LeftoverSweep_win.h"
#include "ParallelFiles_win.h"
#include "PeImage.h"
#include "UnpackPlan.h"
#include "ZipReader.h"

#define LOG_SOURCE_FILE "DuzoRizedAroriva"
#include "LogRecord.h"

namespace {

const char* const kFunction = "unpackEmbeddedZip";

// Folders and the file are made from the same reading of the name's bytes:
// UTF-8 when the entry says so (bit 11), else the ANSI code page, as the C
// runtime reads a narrow name.
std::wstring entryWideName(const std::string& name, NameEncoding encoding)
{
    return codePageToWide(name, encoding == NameEncoding::Utf8 ? CP_UTF8 : CP_ACP);
}

void logEntryFailure(const char* what, uint32_t index, const std::string& name)
{
    LOG_RECORD(LogLevel::Error, kFunction) << what << index << " Filename = " << name;
}

// The names the entries are written to, for the entries the walk reaches.
std::vector<std::wstring> wideNames(const std::vector<ZipEntryInfo>& entries,
                                    const UnpackPlan& plan, size_t reached)
{
    std::vector<std::wstring> names(reached);
    for (size_t i = 0; i < reached; ++i)
        names[i] = entryWideName(entries[i].fileName, plan.entries[i].encoding);
    return names;
}

// Before anything is written: what a killed run left of the files to come.
void removeLeftovers(const std::vector<uint32_t>& files,
                     const std::vector<std::wstring>& names)
{
    std::vector<std::wstring> fileNames;
    fileNames.reserve(files.size());
    for (const uint32_t index : files)
        fileNames.push_back(names[index]);
    if (const uint32_t removed = removeKilledRunTemporaries(fileNames))
        LOG_RECORD(LogLevel::Event, kFunction)
            << "Removed " << removed << " temporary files left by an interrupted run.";
}

// Logs entry `index`'s file as one thread would have: the staged update, what
// writing it logged, and why it failed; false when it failed.
bool settleFile(uint32_t index, const ZipEntryInfo& entry, const PlannedEntry& planned,
                const FileOutcome& outcome, uint32_t folderError, bool* stagedUpdateFound,
                uint32_t& kept)
{
    if (planned.stagedUpdate) {
        LOG_RECORD(LogLevel::Event, kFunction) << "Found staged update: " << entry.fileName;
        if (stagedUpdateFound != nullptr)
            *stagedUpdateFound = true;
    }
    writeKeptRecords(outcome.records);
    if (!outcome.result) {
        logEntryFailure("Unable to decompress file.  i = ", index, entry.fileName);
        logFolderFailure(folderError);
        logEntryFailureCause(outcome.result);
        logEntryDataFailure(outcome.result);
        return false;
    }
    kept += outcome.result.kept ? 1 : 0;
    return true;
}

bool unpackAll(FileMapping& image, const std::wstring& installer, const UnpackOptions& options,
               bool* stagedUpdateFound)
{
    ZipReader reader;
    // The signature after the archive may be of any size; the search for the
    // archive stops where it begins.
    if (!reader.open(image, payloadSearchSize(image))) {
        LOG_RECORD(LogLevel::Error, kFunction) << "Unable to initialize zip reader.";
        return false;
    }
    const std::vector<ZipEntryInfo>& entries = reader.entries();
    const uint32_t count = static_cast<uint32_t>(entries.size());
    LOG_RECORD(LogLevel::Event, kFunction) << "Embedded zip contains " << count
                                           << " entries.  Total size: "
                                           << static_cast<int32_t>(image.size());
    const UnpackPlan plan = planUnpack(entries);
    // The walk ends at the plan's first refusal; a symbolic link's folders are
    // still made before it is refused.
    const size_t end = plan.firstFailure;
    const size_t reached = end < count ? end + 1 : count;
    const std::vector<std::wstring> names = wideNames(entries, plan, reached);

    std::vector<uint32_t> files;
    for (size_t i = 0; i < end; ++i) {
        if (plan.entries[i].action == EntryAction::WriteFile)
            files.push_back(static_cast<uint32_t>(i));
    }
    if (options.ownsWorkArea)
        removeLeftovers(files, names);

    // Every folder once, in plan order, before the files that go into them.
    EntryFolders folders;
    std::vector<uint32_t> folderErrors(reached, 0);
    for (size_t i = 0; i < reached; ++i) {
        if (plan.entries[i].makesFolders)
            folderErrors[i] = folders.make(names[i], plan.entries[i].isDirectory);
    }

    // A file in a folder this run made cannot be there yet: it is created
    // first; elsewhere it is looked for first, as a re-run finds it.
    std::vector<bool> fresh(reached, false);
    for (const uint32_t index : files)
        fresh[index] = folders.holderIsNew(names[index]);

    ParallelFiles writers(reader, installer, files, names, fresh, plan.solid);
    writers.start(options.workers);
    uint32_t kept = 0;
    for (size_t job = 0; job < files.size(); ++job) {
        const uint32_t index = files[job];
        if (!settleFile(index, entries[index], plan.entries[index], writers.await(job),
                        folderErrors[index], stagedUpdateFound, kept))
            return false;
    }
    if (end < count) {
        logEntryFailure(stubFailureText(plan.entries[end].reason), static_cast<uint32_t>(end),
                        entries[end].fileName);
        return false;
    }
    if (kept > 0)
        LOG_RECORD(LogLevel::Event, kFunction) << "Kept " << kept << " files already in place.";
    LOG_RECORD(LogLevel::Event, kFunction) << "Archive unpacked successfully.";
    return true;
}

// A failed open, mapping or view is the system's doing: its error code tells
// support whether the file was locked, missing or the address space full.
void logMappingFailure(const FileMapping& image)
{
    if (image.error().failed())
        LOG_RECORD(LogLevel::Error, kFunction)
            << "Unable to map the installer file.  Error = " << image.error().code;
}

} // namespace

bool unpackInstaller(const std::wstring& installer, const UnpackOptions& options,
                     bool* stagedUpdateFound)
{
    FileMapping image(installer);
    if (!image.isOpen() || image.size() == 0) {
        logMappingFailure(image);
        return false;
    }
    if (unpackAll(image, installer, options, stagedUpdateFound))
        return true;
    logMappingFailure(image);
    return false;
}

bool unpackEmbeddedZip(bool ownsWorkArea, bool* stagedUpdateFound)
{
    UnpackOptions options;
    options.workers = unpackWorkerCount();
    options.ownsWorkArea = ownsWorkArea;
    return unpackInstaller(getModulePath(), options, stagedUpdateFound);
}
