#include <cstdio>
#include <string>
#include <vector>

#include "cli/Arguments.h"
#include "commands/Commands.h"
#include "inspect/CountingSink.h"
#include "inspect/EntryKind.h"
#include "EntryName.h"
#include "inspect/InstallerView.h"
#include "inspect/Json.h"
#include "cli/Messages.h"
#include "inspect/PayloadChecks.h"
#include "PeImage.h"
#include "cli/Progress.h"
#include "inspect/Sha256.h"
#include "sign/SignatureCheck.h"

namespace {

const char kCommand[] = "verify";
const char kUsage[] =
    "usage: wrapper-tool verify INSTALLER [--json] [--ca FILE]\n"
    "\n"
    "Reads INSTALLER the way the stub reads its own file: the archive is looked\n"
    "for before the signature block, every entry is decompressed (nothing is\n"
    "written) and checked against its size and CRC-32. Reports the archive, the\n"
    "inner setup, a staged update, and every entry the stub would refuse; warns\n"
    "of paths too long for Windows' plain file APIs under a typical work area.\n"
    "A signature is checked with osslsigncode (WinVerifyTrust on Windows):\n"
    "valid, invalid, or present but not checked when the tool is missing.\n"
    "A file changed after signing fails the check; a signer not trusted\n"
    "here is reported as invalid with a note, and does not fail it.\n"
    "\n"
    "  --json      print one JSON document (entries, sizes, archive offset,\n"
    "              SHA-256, signature state, notes and problems)\n"
    "  --ca FILE   trust these certificates (PEM) for the signature, e.g. a\n"
    "              test certificate\n"
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

void describeSignature(const InstallerView& view, SignatureState state, const std::string& detail)
{
    if (view.isSigned())
        std::printf("signature:     %s, certificate table of %llu bytes at offset %llu%s\n",
                    signatureStateText(state), (unsigned long long)view.certificateTableSize(),
                    (unsigned long long)view.searchSize(), detail.empty() ? "" : (" (" + detail + ")").c_str());
    else
        std::printf("signature:     none\n");
}

std::string jsonList(const std::vector<std::string>& items)
{
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i)
        out += (i ? ", " : "") + jsonString(items[i]);
    return out + "]";
}

void printJson(const std::string& path, const InstallerView& view, const std::string& sha256,
               SignatureState state, const Findings& found, bool ok)
{
    std::string out = "{\n";
    out += "  \"installer\": " + jsonString(path) + ",\n";
    out += "  \"size\": " + std::to_string(view.fileSize()) + ",\n";
    out += "  \"sha256\": \"" + sha256 + "\",\n";
    out += std::string("  \"signature\": \"") + signatureStateText(state) + "\",\n";
    out += std::string("  \"archive_found\": ") + (view.archiveFound() ? "true" : "false") + ",\n";
    if (view.archiveFound()) {
        out += "  \"archive_offset\": " + std::to_string(view.reader().archiveOffset()) + ",\n";
        out += std::string("  \"zip64\": ") + (view.reader().zip64() ? "true" : "false") + ",\n";
    }
    out += std::string("  \"inner_setup\": ") + (found.innerSetup ? "true" : "false") + ",\n";
    out += "  \"staged_updates\": " + jsonList(found.stagedUpdates) + ",\n";
    std::vector<std::string> warnings = found.warnings;
    warnings.insert(warnings.end(), found.notes.begin(), found.notes.end());
    out += "  \"warnings\": " + jsonList(warnings) + ",\n";
    out += "  \"problems\": " + jsonList(found.problems) + ",\n";
    out += "  \"entries\": [";
    if (view.archiveFound()) {
        const auto& entries = view.reader().entries();
        for (size_t i = 0; i < entries.size(); ++i) {
            const ZipEntryInfo& e = entries[i];
            out += i ? ",\n    " : "\n    ";
            out += "{\"name\": " + jsonString(e.fileName) + ", \"method\": " + std::to_string(e.compressionMethod) +
                   ", \"compressed_size\": " + std::to_string(e.compressedSize) +
                   ", \"uncompressed_size\": " + std::to_string(e.uncompressedSize) +
                   ", \"crc32\": " + std::to_string(e.crc32) + "}";
        }
        if (!entries.empty())
            out += "\n  ";
    }
    out += "],\n";
    out += std::string("  \"result\": \"") + (ok ? "ok" : "failed") + "\"\n}\n";
    std::fputs(out.c_str(), stdout);
}

} // namespace

int runVerify(int argc, char** argv)
{
    ParsedArguments args;
    const int outcome = parseCommand(argc, argv, kCommand, kUsage, {{"--json", false}, {"--ca", true}}, 1,
                                     "INSTALLER", args);
    if (outcome >= 0)
        return outcome;

    std::string error;
    const std::string& path = args.positional[0];
    const bool json = args.has("--json");
    InstallerView view;
    if (!view.open(path, error))
        return reportFailure(kCommand, kExitIoError, error);
    std::string detail;
    bool altered = false;
    const SignatureState signature = checkSignature(path, view.isSigned(), args.value("--ca"), detail, altered);
    const std::string sha256 = json ? fileSha256(path) : std::string();

    Findings found;
    // Whole-file problems first: the stub is a PE file and reads one archive.
    if (!view.isPeImage())
        found.problems.push_back("not a Windows executable (no PE header)");
    // A file changed after signing fails; a signer this machine does not
    // trust is told, since the stub runs either way and trust is the
    // target machine's matter.
    if (signature == SignatureState::Invalid && altered)
        found.problems.push_back("the signature is invalid: " + detail);
    else if (signature == SignatureState::Invalid)
        found.notes.push_back("the signature does not verify here (" + detail +
                              "); for a test certificate, trust it with --ca FILE");
    checkSignatureEnd(view, found);
    if (view.holdsEarlierArchive())
        found.problems.push_back("two archives appended one after the other; the stub reads only the last: "
                                 "pack the bare stub");
    if (!view.archiveFound()) {
        std::string reason = view.archiveProblem();
        if (view.archiveAfterSignature())
            reason = "no archive the stub could read before the signature block; an archive "
                     "follows it: pack first, then sign";
        found.problems.insert(found.problems.begin(), reason);
        if (json) {
            printJson(path, view, sha256, signature, found, false);
            return kExitRefused;
        }
        std::printf("installer:     %s (%llu bytes)\n", path.c_str(), (unsigned long long)view.fileSize());
        describeSignature(view, signature, detail);
        std::printf("archive:       not found\n");
        std::printf("result:        FAILED, %s\n", reason.c_str());
        return reportFailure(kCommand, kExitRefused, reason);
    }
    ZipReader& reader = view.reader();
    if (!json) {
        std::printf("installer:     %s (%llu bytes)\n", path.c_str(), (unsigned long long)view.fileSize());
        describeSignature(view, signature, detail);
        std::printf("archive:       found at offset %llu%s, %zu entries%s\n",
                    (unsigned long long)reader.archiveOffset(),
                    view.isSigned() ? " (before the signature block)" : "", reader.entries().size(),
                    reader.zip64() ? ", Zip64" : "");
    }

    checkEntries(reader, found);
    if (!found.innerSetup)
        found.problems.push_back(std::string("no ") + kInnerSetupName + " at the top level");
    const bool ok = found.problems.empty();
    if (json) {
        printJson(path, view, sha256, signature, found, ok);
        return ok ? kExitOk : kExitRefused;
    }
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

    if (!ok) {
        std::printf("result:        FAILED, the stub would not unpack it and start the inner setup\n");
        return reportFailure(kCommand, kExitRefused, found.problems.front());
    }
    std::printf("result:        OK, the stub would unpack it and start the inner setup\n");
    return kExitOk;
}
