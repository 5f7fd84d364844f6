#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "cli/Arguments.h"
#include "commands/Commands.h"
#include "inspect/EntryKind.h"
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
    "area: central-directory order, each entry's folders first, symbolic links\n"
    "and names that would leave DIR refused, every file checked against its\n"
    "size and CRC-32; the first failing entry ends the run and what was written\n"
    "before it stays. An archive with names that Windows takes for one file is\n"
    "refused before anything is written.\n"
    "\n"
    "exit codes: 0 unpacked, 1 an entry was refused or failed (or no archive),\n"
    "            2 bad command line, 3 I/O error\n";

std::string entryLabel(uint32_t index, const std::string& name)
{
    return "entry " + std::to_string(index) + " '" + name + "'";
}

// The folders an entry needs: its parent folders, and itself for a directory.
bool createEntryFolders(const fs::path& root, const ZipEntryInfo& entry, bool isDirectory)
{
    fs::path target = root / fs::u8path(entry.fileName);
    fs::path folder = isDirectory ? target : target.parent_path();
    std::error_code code;
    fs::create_directories(folder, code);
    return !code;
}

int unpack(ZipReader& reader, const fs::path& root, uint64_t& written)
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
                                 entryLabel(i, entry.fileName) + ": refused, name would leave " +
                                     root.string());
        // As in the stub, folders come first, also for an entry refused next.
        const bool isDirectory = entry.isDirectory();
        const bool foldersMade = createEntryFolders(root, entry, isDirectory);
        if (kind == EntryKind::Symlink)
            return reportFailure(kCommand, kExitRefused,
                                 entryLabel(i, entry.fileName) + ": refused, symbolic link");
        if (kind == EntryKind::Directory) {
            if (!foldersMade)
                return reportFailure(kCommand, kExitIoError,
                                     entryLabel(i, entry.fileName) + ": cannot create the folder");
            continue;
        }
        const std::string target = (root / fs::u8path(entry.fileName)).string();
        FileWriterCallback sink(target.c_str(), 0);
        if (!reader.extract(i, sink))
            return reportFailure(kCommand, kExitRefused,
                                 entryLabel(i, entry.fileName) +
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
        return reportFailure(kCommand, kExitRefused, view.archiveProblem(path));
    const std::string collision = nameCollisionProblem(namedEntries(view.reader()), true);
    if (!collision.empty())
        return reportFailure(kCommand, kExitRefused, "refused " + collision);
    std::error_code code;
    fs::create_directories(root, code);
    if (code)
        return reportFailure(kCommand, kExitIoError, "cannot create '" + root.string() + "': " + code.message());

    uint64_t written = 0;
    int result = unpack(view.reader(), root, written);
    if (result == kExitOk)
        std::printf("extracted %zu entries (%llu bytes) into %s\n", view.reader().entries().size(),
                    (unsigned long long)written, root.string().c_str());
    return result;
}
