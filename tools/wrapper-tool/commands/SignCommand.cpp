#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "cli/Arguments.h"
#include "commands/Commands.h"
#include "platform/ExternalTool.h"
#include "inspect/InstallerView.h"
#include "platform/InterruptCleanup.h"
#include "cli/Messages.h"
#include "platform/OutputFile.h"
#include "PeImage.h"
#include "sign/SignerCommand.h"
#include "inspect/Digest.h"
#include "inspect/Json.h"
#include "sign/SignatureCheck.h"
#include "sign/SignatureText.h"
#include "sign/SignerSecret.h"

namespace fs = std::filesystem;

namespace {

const char kCommand[] = "sign";
const char kUsage[] =
    "usage: wrapper-tool sign INSTALLER (--pkcs12 FILE [--password-env VAR] | --cert FILE --key FILE\n"
    "                                    | --pkcs11-module LIB --key URI --cert FILE|URI [--pin-env VAR]\n"
    "                                    | --thumbprint SHA1)\n"
    "                         [--timestamp URL] [-o OUT.exe] [--ca FILE] [--json] [--quiet]\n"
    "\n"
    "Signs a packed installer with Authenticode (osslsigncode; signtool on\n"
    "Windows), then checks the result: the archive still lies before the\n"
    "signature and the signature verifies. INSTALLER is replaced only when\n"
    "all of that succeeded (or OUT.exe is written instead).\n"
    "\n"
    "  --pkcs12 FILE       the certificate and key, PKCS#12 (.pfx/.p12)\n"
    "  --password-env VAR  the name of an environment variable holding its\n"
    "                      password; osslsigncode reads it through a pipe, so\n"
    "                      it is never on a command line or on disk (refused on\n"
    "                      Windows, where signtool would take it on its command\n"
    "                      line: use --thumbprint there)\n"
    "  --cert F --key F    certificate chain and private key, PEM (not on Windows)\n"
    "  --pkcs11-module LIB a hardware token or HSM through its PKCS#11 library\n"
    "                      (not on Windows): the key, named by --key pkcs11:URI,\n"
    "                      never leaves it; --cert is a PEM file or the token's\n"
    "                      certificate by pkcs11:URI\n"
    "  --pin-env VAR       the variable holding the token's PIN; without it the\n"
    "                      PIN is asked for on the terminal. Either way it reaches\n"
    "                      osslsigncode through a pipe, never a command line or disk\n"
    "  --thumbprint SHA1   Windows only: the certificate in your certificate\n"
    "                      store with this SHA-1 thumbprint (signtool /sha1); a\n"
    "                      token's certificate is there through its minidriver,\n"
    "                      so this signs with a hardware key on Windows\n"
    "  --timestamp URL     an RFC 3161 time-stamping service\n"
    "  -o OUT.exe          write the signed installer here instead\n"
    "  --ca FILE           trust these certificates (PEM) when checking the\n"
    "                      result, e.g. a test certificate; --cert is trusted anyway\n"
    "  --json              print one JSON document (output, signer, timestamp)\n"
    "  --quiet             print nothing but errors\n"
    "\n"
    "The signing tool runs in a process group of its own (a job object on\n"
    "Windows), stopped with everything it started after 120 s, or after\n"
    "WRAPPER_PROGRAM_TIMEOUT seconds, and when sign itself is interrupted.\n"
    "\n"
    "exit codes: 0 signed, 1 refused or the check failed, 2 bad command line,\n"
    "            3 I/O error or the signing tool failed or is missing\n";

#ifdef _WIN32
const Signer kSigner = Signer::Signtool;
#else
const Signer kSigner = Signer::Osslsigncode;
#endif

int parse(int argc, char** argv, SignRequest& request)
{
    ParsedArguments args;
    std::string error;
    bool parsed = parseArguments(argc, argv, 2,
                                 {{"--pkcs12", true}, {"--password-env", true}, {"--cert", true},
                                  {"--key", true}, {"--thumbprint", true}, {"--timestamp", true},
                                  {"-o", true}, {"--ca", true}, {"--pkcs11-module", true},
                                  {"--pin-env", true}, {"--json", false}, {"--quiet", false}},
                                 args, error);
    if (parsed && !args.helpRequested) {
        request.pkcs12 = args.value("--pkcs12");
        request.passwordEnv = args.value("--password-env");
        request.cert = args.value("--cert");
        request.key = args.value("--key");
        request.thumbprint = args.value("--thumbprint");
        request.pkcs11Module = args.value("--pkcs11-module");
        request.pinEnv = args.value("--pin-env");
        if (args.positional.size() != 1) {
            error = "expected INSTALLER";
            parsed = false;
        } else {
            error = signOptionsProblem(request, kSigner);
            parsed = error.empty();
        }
    }
    int outcome = usageOutcome(kCommand, kUsage, args.helpRequested, parsed, error);
    if (outcome >= 0)
        return outcome;
    request.installer = args.positional[0];
    request.out = args.has("-o") ? args.value("-o") : request.installer;
    request.timestamp = args.value("--timestamp");
    request.ca = args.value("--ca");
    request.json = args.has("--json");
    request.quiet = args.has("--quiet");
    return -1;
}

// The signed file before it replaces OUT, and the private folder holding it
// (POSIX): removed unless committed.
struct PendingFile {
    std::string path;
    std::string folder;
    bool kept = false;
    ~PendingFile()
    {
        std::error_code ignored;
        if (!kept && !path.empty())
            fs::remove(fs::path(path), ignored);
        if (!folder.empty())
            fs::remove(fs::path(folder), ignored);
        forgetOnInterrupt();
    }
};

// Where the signer writes: osslsigncode creates its output itself, so it
// gets a name in a fresh private folder; signtool signs a copy in place.
bool preparePending(const SignRequest& request, PendingFile& pending, std::string& error)
{
#ifdef _WIN32
    std::FILE* copy = createScratchBeside(request.out, ".tmp", pending.path, error);
    if (copy == nullptr)
        return false;
    std::FILE* source = std::fopen(request.installer.c_str(), "rb");
    bool copied = source != nullptr;
    char buffer[1 << 16];
    size_t got = 0;
    while (copied && (got = std::fread(buffer, 1, sizeof buffer, source)) > 0)
        copied = std::fwrite(buffer, 1, got, copy) == got;
    copied = copied && !std::ferror(source);
    const int reason = errno;
    if (source != nullptr)
        std::fclose(source);
    copied = std::fclose(copy) == 0 && copied;
    if (!copied)
        error = writeFailure(request.out, reason);
    return copied;
#else
    SignalsHeld held;
    if (!createScratchFolderBeside(request.out, ".sign", pending.folder, error))
        return false;
    pending.path = pending.folder + "/signed.exe";
    removeOnInterrupt(pending.path, pending.folder);
    return true;
#endif
}

// The signed result must still be an installer the stub reads, with the
// same entries, and its signature must verify.
bool checkSigned(const std::string& path, size_t entryCount, const std::string& trusted, SignatureReport& report,
                 std::string& error, std::string& note)
{
    InstallerView view;
    if (!view.open(path, error))
        return false;
    if (!view.isSigned() || !view.archiveFound() || view.reader().entries().size() != entryCount) {
        error = "the signed file no longer holds the archive before its signature";
        return false;
    }
    report = checkSignature(path, view.file(), trusted);
    if (report.state == SignatureState::Invalid) {
        error = "the signature does not verify: " + report.detail;
        return false;
    }
    // As verify does: a signer this machine does not trust is told, not refused.
    if (report.state == SignatureState::Untrusted)
        note = "the signer is not trusted here (" + report.detail + "); trust a test certificate with --ca FILE";
    const TimestampDetails& stamp = report.signer.timestamp;
    if (stamp.present() && !stamp.verified)
        note += (note.empty() ? "" : "; ") + std::string("the timestamp does not verify here: ") + stamp.problem;
    return true;
}

void printSigned(const SignRequest& request, const SignatureReport& report, const std::string& note)
{
    if (request.json) {
        JsonDocument out = {{"installer", request.out},
                            {"signed_with", signerName(kSigner)},
                            {"sha256", fileSha256(request.out)},
                            {"signature", signatureStateText(report.state)},
                            {"signer", signerJson(report)},
                            {"note", note.empty() ? JsonDocument(nullptr) : JsonDocument(note)}};
        std::fputs(jsonText(out).c_str(), stdout);
        return;
    }
    if (request.quiet)
        return;
    std::printf("signed %s with %s\n", request.out.c_str(), signerName(kSigner));
    if (!note.empty())
        std::printf("note: %s\n", note.c_str());
}

} // namespace

int runSign(int argc, char** argv)
{
    SignRequest request;
    int outcome = parse(argc, argv, request);
    if (outcome >= 0)
        return outcome;

    std::string error;
    if (request.out != request.installer && !refuseFolderAsOutput(request.out, error))
        return reportFailure(kCommand, kExitRefused, error);
    if (!request.ca.empty() && !trustFileReadable(request.ca, error))
        return reportFailure(kCommand, kExitIoError, error);
    size_t entryCount = 0;
    {
        InstallerView view;
        if (!view.open(request.installer, error))
            return reportFailure(kCommand, kExitIoError, error);
        if (!view.isPeImage())
            return reportFailure(kCommand, kExitRefused,
                                 "refused '" + request.installer + "': not a Windows executable");
        if (view.isSigned())
            return reportFailure(kCommand, kExitRefused,
                                 "refused '" + request.installer +
                                     "': it is signed already; sign the installer as pack wrote it");
        if (!view.archiveFound())
            return reportFailure(kCommand, kExitRefused,
                                 "refused '" + request.installer + "': no archive; pack it first, then sign");
        entryCount = view.reader().entries().size();
    }
    const char* signer = signerName(kSigner);
    if (!programOnPath(signer))
        return reportFailure(kCommand, kExitIoError, std::string(signer) + " not found on PATH; install it to sign");

    std::string secret;
    ExitCode secretCode = kExitOk;
    if (!signerSecret(request, secret, secretCode, error))
        return reportFailure(kCommand, secretCode, error);

    PendingFile pending;
    if (!preparePending(request, pending, error))
        return reportFailure(kCommand, kExitIoError, error);
    const std::vector<std::string> command =
        signerCommand(request, kSigner, !secret.empty(), request.installer, pending.path);
    const ProgramRun run = runProgram(command, programDeadlineSeconds(), secret);
    if (!run.succeeded()) {
        const std::string ended = programEndProblem(signer, run);
        const std::string reason =
            underUserName(ended.empty() ? signerReason(run.output) : ended, pending.path, request.out);
        return reportFailure(kCommand, kExitIoError,
                             std::string(signer) + " could not sign '" + request.installer + "'" +
                                 (reason.empty() ? std::string() : ": " + reason));
    }
    std::string note;
    SignatureReport report;
    // A token's certificate is no file to trust: --ca names the anchors then.
    const std::string trusted = !request.ca.empty() || isPkcs11Uri(request.cert) ? request.ca : request.cert;
    if (!checkSigned(pending.path, entryCount, trusted, report, error, note))
        return reportFailure(kCommand, kExitRefused, underUserName(error, pending.path, request.out));
    std::error_code renamed;
    fs::rename(fs::path(pending.path), fs::path(request.out), renamed);
    if (renamed)
        return reportFailure(kCommand, kExitIoError, "cannot replace '" + request.out + "': " + renamed.message());
    pending.kept = true;
    forgetOnInterrupt();
    printSigned(request, report, note);
    return kExitOk;
}
