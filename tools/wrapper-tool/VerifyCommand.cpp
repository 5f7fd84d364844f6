#include <cstdio>
#include <string>
#include <vector>

#include "Arguments.h"
#include "Commands.h"
#include "CountingSink.h"
#include "EntryKind.h"
#include "EntryName.h"
#include "InstallerView.h"
#include "Messages.h"
#include "PayloadChecks.h"
#include "Progress.h"

namespace {

const char kCommand[] = "verify";
const char kUsage[] =
    "usage: wrapper-tool verify INSTALLER\n"
    "\n"
    "Reads INSTALLER the way the stub reads its own file: the archive is looked\n"
    "for before the signature block, every entry is decompressed (nothing is\n"
    "written) and checked against its size and CRC-32. Reports the archive, the\n"
    "inner setup, a staged update, and every entry the stub would refuse; warns\n"
    "of paths too long for Windows' plain file APIs under a typical work area.\n"
    "\n"
    "exit codes: 0 the stub would unpack it and start the inner setup,\n"
    "            1 it would not, 2 bad command line, 3 I/O error\n";

struct Findings {
    std::vector<std::string> problems;
    std::vector<std::string> notes;
    std::vector<std::string> warnings;
    bool innerSetup = false;
    std::vector<std::string> stagedUpdates;
    uint64_t files = 0;
    uint64_t folders = 0;
    uint64_t unpackedBytes = 0;
};

std::string describeEntry(uint32_t index, const std::string& name)
{
    return "entry " + std::to_string(index) + " '" + name + "'";
}

bool isPlainAscii(const std::string& text)
{
    for (unsigned char c : text)
        if (c < 0x20 || c > 0x7E)
            return false;
    return true;
}

uint64_t totalUnpackedBytes(const ZipReader& reader)
{
    uint64_t total = 0;
    for (const ZipEntryInfo& entry : reader.entries())
        total += entry.uncompressedSize;
    return total;
}

void checkFile(ZipReader& reader, uint32_t index, const ZipEntryInfo& entry, Findings& found)
{
    CountingSink sink;
    const bool extracted = reader.extract(index, sink);
    if (!extracted) {
        found.problems.push_back(describeEntry(index, entry.fileName) +
                                 ": cannot be decompressed, or its size or CRC-32 does not match");
        return;
    }
    found.unpackedBytes += sink.bytes();
}

void checkEntries(ZipReader& reader, Findings& found)
{
    const uint32_t count = uint32_t(reader.entries().size());
    Progress progress("verifying", totalUnpackedBytes(reader));
    for (uint32_t i = 0; i < count; ++i) {
        ZipEntryInfo entry;
        if (!reader.getEntryInfo(i, entry)) {
            found.problems.push_back("entry " + std::to_string(i) + ": cannot be read");
            continue;
        }
        const EntryKind kind = classifyEntry(entry);
        if (kind == EntryKind::Symlink) {
            found.problems.push_back(describeEntry(i, entry.fileName) +
                                     ": symbolic link, the stub refuses it and stops");
            continue;
        }
        if (kind == EntryKind::Refused) {
            found.problems.push_back(describeEntry(i, entry.fileName) +
                                     ": name would leave the work area, the stub refuses it and stops");
            continue;
        }
        const std::string longPath = longPathProblem(entry.fileName);
        if (!longPath.empty())
            found.warnings.push_back(describeEntry(i, entry.fileName) + ": " + longPath);
        if (!isPlainAscii(entry.fileName))
            found.notes.push_back(describeEntry(i, entry.fileName) +
                                  ": name is not plain ASCII; its folder and file names may differ");
        if (kind == EntryKind::Directory) {
            ++found.folders;
            continue;
        }
        ++found.files;
        if (entry.fileName == kInnerSetupName)
            found.innerSetup = true;
        if (isStagedUpdateName(entry.fileName))
            found.stagedUpdates.push_back(entry.fileName);
        checkFile(reader, i, entry, found);
        progress.advance(entry.uncompressedSize);
    }
    const std::string collision = nameCollisionProblem(namedEntries(reader), true);
    if (!collision.empty())
        found.problems.push_back(collision);
}

// Bytes after the signature are not covered by it, and the stub never looks
// at them: a file carrying them is not what was signed.
void checkSignatureEnd(const InstallerView& view, Findings& found)
{
    if (view.bytesAfterCertificateTable() != 0)
        found.problems.push_back(std::to_string(view.bytesAfterCertificateTable()) +
                                 " bytes follow the certificate table; they are outside the "
                                 "signature, which Windows then reports as broken");
    if (view.certificateTableCut())
        found.problems.push_back("the certificate table runs past the end of the file");
}

void describeSignature(const InstallerView& view)
{
    if (view.isSigned())
        std::printf("signature:     certificate table of %llu bytes at offset %llu\n",
                    (unsigned long long)view.certificateTableSize(),
                    (unsigned long long)view.searchSize());
    else
        std::printf("signature:     none\n");
}

} // namespace

int runVerify(int argc, char** argv)
{
    ParsedArguments args;
    const int outcome =
        parseCommand(argc, argv, kCommand, kUsage, {}, 1, "INSTALLER", args);
    if (outcome >= 0)
        return outcome;

    std::string error;
    const std::string& path = args.positional[0];
    InstallerView view;
    if (!view.open(path, error))
        return reportFailure(kCommand, kExitIoError, error);

    std::printf("installer:     %s (%llu bytes)\n", path.c_str(), (unsigned long long)view.fileSize());
    describeSignature(view);
    if (!view.archiveFound()) {
        std::printf("archive:       not found\n");
        std::string reason = "no archive the stub could read";
        if (view.reader().entriesOverlap())
            reason = kOverlapProblem;
        else if (view.archiveAfterSignature())
            reason += " before the signature block; an archive follows it: pack first, then sign";
        std::printf("result:        FAILED, %s\n", reason.c_str());
        return reportFailure(kCommand, kExitRefused, reason);
    }
    ZipReader& reader = view.reader();
    std::printf("archive:       found at offset %llu%s, %zu entries%s\n",
                (unsigned long long)reader.archiveOffset(),
                view.isSigned() ? " (before the signature block)" : "", reader.entries().size(),
                reader.zip64() ? ", Zip64" : "");

    Findings found;
    checkSignatureEnd(view, found);
    checkEntries(reader, found);
    std::printf("entries:       %llu files, %llu folders, %llu bytes unpacked and checked\n",
                (unsigned long long)found.files, (unsigned long long)found.folders,
                (unsigned long long)found.unpackedBytes);
    std::printf("inner setup:   %s\n", found.innerSetup ? kInnerSetupName : "MISSING");
    if (found.stagedUpdates.empty())
        std::printf("staged update: none\n");
    for (const std::string& staged : found.stagedUpdates)
        std::printf("staged update: %s\n", staged.c_str());
    for (const std::string& note : found.notes)
        std::printf("note:          %s\n", note.c_str());
    for (const std::string& warning : found.warnings)
        std::printf("warning:       %s\n", warning.c_str());
    for (const std::string& problem : found.problems)
        std::printf("problem:       %s\n", problem.c_str());
    if (!found.innerSetup)
        found.problems.push_back(std::string("no ") + kInnerSetupName + " at the top level");

    if (!found.problems.empty()) {
        std::printf("result:        FAILED, the stub would not unpack it and start the inner setup\n");
        return reportFailure(kCommand, kExitRefused, found.problems.front());
    }
    std::printf("result:        OK, the stub would unpack it and start the inner setup\n");
    return kExitOk;
}
