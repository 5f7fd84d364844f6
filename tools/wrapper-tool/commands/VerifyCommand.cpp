#include <cstdio>
#include <string>
#include <vector>

#include "cli/Arguments.h"
#include "commands/Commands.h"
#include "inspect/CountingSink.h"
#include "inspect/EntryReport.h"
#include "EntryName.h"
#include "inspect/InstallerView.h"
#include "inspect/Json.h"
#include "cli/Messages.h"
#include "inspect/PayloadChecks.h"
#include "inspect/StubIdentity.h"
#include "PeImage.h"
#include "cli/Progress.h"
#include "inspect/Sha256.h"
#include "sign/SignatureCheck.h"
#include "sign/SignatureText.h"

namespace {

const char kCommand[] = "verify";
const char kUsage[] =
    "usage: wrapper-tool verify INSTALLER [--json] [--ca FILE] [--require-signature]\n"
    "\n"
    "Reads INSTALLER the way the stub reads its own file: the archive is looked\n"
    "for before the signature block, every entry is decompressed (nothing is\n"
    "written) and checked against its size and CRC-32. Reports the stub (its\n"
    "product and version, from its version block: any other PE file fails),\n"
    "the archive, the inner setup, a staged update, and every entry the stub\n"
    "would refuse, the first of them (where the stub stops) first.\n"
    "A signature is checked with osslsigncode (WinVerifyTrust on Windows):\n"
    "valid, untrusted, invalid, or present but not checked when the tool is\n"
    "missing. An invalid signature (the file changed after signing, or the\n"
    "signature itself is broken) fails the check. A signer not trusted here\n"
    "is a note, unless --ca or --require-signature makes the check strict.\n"
    "\n"
    "  --json               print one JSON document (entries, sizes, archive\n"
    "                       offset, SHA-256, signature and signer, notes and\n"
    "                       problems)\n"
    "  --ca FILE            trust these certificates (PEM) for the signature,\n"
    "                       e.g. a test certificate; a signer they do not\n"
    "                       vouch for, or no signature, then fails the check\n"
    "  --require-signature  fail unless the installer carries a signature\n"
    "                       whose signer is trusted\n"
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

uint64_t totalUnpackedBytes(const ZipReader& reader)
{
    uint64_t total = 0;
    for (const ZipEntryInfo& entry : reader.entries())
        total += entry.uncompressedSize;
    return total;
}

void checkFile(ZipReader& reader, uint32_t index, const PlannedEntry& planned, Findings& found)
{
    CountingSink sink;
    const bool extracted = reader.extract(index, sink);
    if (!extracted) {
        found.problems.push_back(entryLabel(index, planned) +
                                 ": cannot be decompressed, or its size or CRC-32 does not match");
        return;
    }
    found.unpackedBytes += sink.bytes();
}

// Every entry the plan refuses is a problem (the first one is where the
// stub stops); every file is decompressed and checked.
void checkEntries(ZipReader& reader, const UnpackPlan& plan, Findings& found)
{
    const uint32_t count = uint32_t(reader.entries().size());
    Progress progress("verifying", totalUnpackedBytes(reader));
    for (uint32_t i = 0; i < count; ++i) {
        const ZipEntryInfo& entry = reader.entries()[i];
        const PlannedEntry& planned = plan.entries[i];
        if (planned.refused()) {
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
        checkFile(reader, i, planned, found);
        progress.advance(entry.uncompressedSize);
    }
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

void describeStub(const StubIdentity& stub)
{
    if (stub.productName.empty())
        std::printf("stub:          not identified\n");
    else
        std::printf("stub:          %s %s\n", stub.productName.c_str(), stub.productVersion.c_str());
}

void printJson(const std::string& path, const InstallerView& view, const StubIdentity& stub,
               const std::string& sha256, const SignatureReport& signature, const Findings& found,
               const UnpackPlan* plan, bool ok)
{
    JsonDocument out;
    out["installer"] = path;
    out["size"] = view.fileSize();
    out["sha256"] = sha256;
    out["stub"] = {{"product", stub.productName}, {"version", stub.productVersion}};
    out["signature"] = signatureStateText(signature.state);
    if (!signature.detail.empty())
        out["signature_detail"] = signature.detail;
    out["signer"] = signerJson(signature);
    out["archive_found"] = view.archiveFound();
    if (view.archiveFound()) {
        out["archive_offset"] = view.reader().archiveOffset();
        out["zip64"] = view.reader().zip64();
    }
    out["inner_setup"] = found.innerSetup;
    out["staged_updates"] = found.stagedUpdates;
    std::vector<std::string> warnings = found.warnings;
    warnings.insert(warnings.end(), found.notes.begin(), found.notes.end());
    out["warnings"] = warnings;
    out["problems"] = found.problems;
    out["entries"] = JsonDocument::array();
    if (view.archiveFound() && plan != nullptr) {
        const auto& entries = view.reader().entries();
        for (size_t i = 0; i < entries.size(); ++i)
            out["entries"].push_back(entryJson(i, entries[i], plan->entries[i]));
        out["first_failure"] =
            plan->succeeds() ? JsonDocument(nullptr) : JsonDocument(plan->firstFailure);
    }
    out["result"] = ok ? "ok" : "failed";
    std::fputs(jsonText(out).c_str(), stdout);
}

} // namespace

int runVerify(int argc, char** argv)
{
    ParsedArguments args;
    const int outcome =
        parseCommand(argc, argv, kCommand, kUsage,
                     {{"--json", false}, {"--ca", true}, {"--require-signature", false}}, 1, "INSTALLER", args);
    if (outcome >= 0)
        return outcome;

    std::string error;
    const std::string& path = args.positional[0];
    const bool json = args.has("--json");
    const std::string& trusted = args.value("--ca");
    if (args.has("--ca") && !trustFileReadable(trusted, error))
        return reportFailure(kCommand, kExitIoError, error);
    InstallerView view;
    if (!view.open(path, error))
        return reportFailure(kCommand, kExitIoError, error);
    const std::vector<uint8_t> table = view.certificateTable();
    const SignatureReport signature = checkSignature(path, table.data(), table.size(), trusted);
    const std::string sha256 = json ? fileSha256(path) : std::string();

    Findings found;
    // Whole-file problems first: the stub is a PE file and reads one archive.
    const StubIdentity stub = view.stubIdentity();
    if (!view.isPeImage())
        found.problems.push_back("not a Windows executable (no PE header)");
    else if (stub.kind == StubIdentity::Kind::NotTheStub)
        found.problems.push_back("not packed on the stub: " + stub.reason);
    else if (stub.kind == StubIdentity::Kind::OtherVersion)
        found.warnings.push_back("another stub release: " + stub.reason);
    checkSignatureEnd(view, found);
    // A broken signature fails; a signer this machine does not trust is
    // told, since the stub runs either way and trust is the target
    // machine's matter, unless the caller asked for trust.
    // Trust anchors given mean a signature they vouch for is wanted.
    const bool required = args.has("--require-signature") || args.has("--ca");
    const std::string signatureFailure = signatureProblem(signature, required, required);
    if (!signatureFailure.empty())
        found.problems.push_back(signatureFailure);
    else if (signature.state == SignatureState::Untrusted)
        found.notes.push_back("the signer is not trusted here (" + signature.detail +
                              "); for a test certificate, trust it with --ca FILE");
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
            printJson(path, view, stub, sha256, signature, found, nullptr, false);
            return kExitRefused;
        }
        std::printf("installer:     %s (%llu bytes)\n", path.c_str(), (unsigned long long)view.fileSize());
        describeStub(stub);
        printSignature(view, signature);
        std::printf("archive:       not found\n");
        std::printf("result:        FAILED, %s\n", reason.c_str());
        return reportFailure(kCommand, kExitRefused, reason);
    }
    ZipReader& reader = view.reader();
    if (!json) {
        std::printf("installer:     %s (%llu bytes)\n", path.c_str(), (unsigned long long)view.fileSize());
        describeStub(stub);
        printSignature(view, signature);
        std::printf("archive:       found at offset %llu%s, %zu entries%s\n",
                    (unsigned long long)reader.archiveOffset(),
                    view.isSigned() ? " (before the signature block)" : "", reader.entries().size(),
                    reader.zip64() ? ", Zip64" : "");
    }

    const UnpackPlan plan = planUnpackNamed(reader.entries());
    checkEntries(reader, plan, found);
    if (!found.innerSetup)
        found.problems.push_back(std::string("no ") + kInnerSetupName + " at the top level");
    const bool ok = found.problems.empty();
    if (json) {
        printJson(path, view, stub, sha256, signature, found, &plan, ok);
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
