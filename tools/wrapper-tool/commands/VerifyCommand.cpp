#include <cstdio>
#include <string>
#include <vector>

#include "cli/Arguments.h"
#include "commands/Commands.h"
#include "inspect/EntryReport.h"
#include "EntryName.h"
#include "inspect/InstallerView.h"
#include "inspect/Json.h"
#include "cli/Messages.h"
#include "inspect/PayloadChecks.h"
#include "inspect/PayloadVerify.h"
#include "inspect/StubIdentity.h"
#include "PeImage.h"
#include "inspect/Digest.h"
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
    "The Authenticode signature is checked in process (libcrypto; WinVerifyTrust\n"
    "on Windows): valid, untrusted (intact, but its chain ends in no trusted\n"
    "certificate), invalid (the file changed after signing, the signature or\n"
    "its certificate table is broken, a certificate outside its validity) or\n"
    "none. A timestamp counts only when it verifies (its signature, imprint and\n"
    "its authority's chain for time stamping): then the signer's chain is\n"
    "checked at its time, else now; one that fails is never shown as a time.\n"
    "An invalid signature always\n"
    "fails the check. A signer not trusted here is a note, unless --ca or\n"
    "--require-signature makes the check strict. The signer shown is the\n"
    "certificate the signature verified with. Only the primary signature\n"
    "counts; nested ones are listed with their own verdicts. No revocation\n"
    "list or OCSP answer is ever fetched: verify uses no network.\n"
    "\n"
    "  --json               print one JSON document (entries, sizes, archive\n"
    "                       offset, SHA-256, signature and signer, notes and\n"
    "                       problems)\n"
    "  --ca FILE            trust only these certificates (PEM) for the\n"
    "                       signature, e.g. a test certificate, instead of\n"
    "                       the system's; implies --require-signature\n"
    "  --require-signature  fail unless the installer carries a signature\n"
    "                       whose signer is trusted\n"
    "\n"
    "exit codes: 0 the stub would unpack it and start the inner setup,\n"
    "            1 it would not, 2 bad command line, 3 I/O error\n";

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
    out["nested_signatures"] = nestedSignaturesJson(signature);
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
    const SignatureReport signature = checkSignature(path, view.file(), trusted);
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
    // A broken signature fails; a signer this machine does not trust is
    // told, since the stub runs either way and trust is the target
    // machine's matter, unless the caller asked for trust.
    // Trust anchors given mean a signature is wanted.
    const bool required = args.has("--require-signature") || args.has("--ca");
    const std::string signatureFailure = signatureProblem(signature, required);
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
    checkEntries(path, reader, plan, found);
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
