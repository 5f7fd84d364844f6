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
#include "sign/SecretFile.h"
#include "sign/SignatureCheck.h"

namespace fs = std::filesystem;

namespace {

const char kCommand[] = "sign";
const char kUsage[] =
    "usage: wrapper-tool sign INSTALLER (--pkcs12 FILE [--password-env VAR] | --cert FILE --key FILE)\n"
    "                         [--timestamp URL] [-o OUT.exe] [--ca FILE]\n"
    "\n"
    "Signs a packed installer with Authenticode (osslsigncode; signtool on\n"
    "Windows), then checks the result: the archive still lies before the\n"
    "signature and the signature verifies. INSTALLER is replaced only when\n"
    "all of that succeeded (or OUT.exe is written instead).\n"
    "\n"
    "  --pkcs12 FILE       the certificate and key, PKCS#12 (.pfx/.p12)\n"
    "  --password-env VAR  the name of an environment variable holding its\n"
    "                      password; the password itself never goes on the\n"
    "                      command line\n"
    "  --cert F --key F    certificate chain and private key, PEM (not on Windows)\n"
    "  --timestamp URL     an RFC 3161 time-stamping service\n"
    "  -o OUT.exe          write the signed installer here instead\n"
    "  --ca FILE           trust these certificates (PEM) when checking the\n"
    "                      result, e.g. a test certificate; --cert is trusted anyway\n"
    "\n"
    "exit codes: 0 signed, 1 refused or the check failed, 2 bad command line,\n"
    "            3 I/O error or the signing tool failed or is missing\n";

struct SignRequest {
    std::string installer;
    std::string out;
    std::string pkcs12;
    std::string passwordEnv;
    std::string cert;
    std::string key;
    std::string timestamp;
    std::string trusted;
};

int parse(int argc, char** argv, SignRequest& request)
{
    ParsedArguments args;
    std::string error;
    bool parsed = parseArguments(argc, argv, 2,
                                 {{"--pkcs12", true}, {"--password-env", true}, {"--cert", true},
                                  {"--key", true}, {"--timestamp", true}, {"-o", true}, {"--ca", true}},
                                 args, error);
    if (parsed && !args.helpRequested) {
        const bool pkcs12 = args.has("--pkcs12");
        const bool pem = args.has("--cert") || args.has("--key");
        if (args.positional.size() != 1) {
            error = "expected INSTALLER";
            parsed = false;
        } else if (pkcs12 == pem) {
            error = "give either --pkcs12 FILE or --cert FILE --key FILE";
            parsed = false;
        } else if (pem && !(args.has("--cert") && args.has("--key"))) {
            error = "--cert and --key go together";
            parsed = false;
        } else if (args.has("--password-env") && !pkcs12) {
            error = "--password-env goes with --pkcs12";
            parsed = false;
        }
    }
    int outcome = usageOutcome(kCommand, kUsage, args.helpRequested, parsed, error);
    if (outcome >= 0)
        return outcome;
    request.installer = args.positional[0];
    request.out = args.has("-o") ? args.value("-o") : request.installer;
    request.pkcs12 = args.value("--pkcs12");
    request.passwordEnv = args.value("--password-env");
    request.cert = args.value("--cert");
    request.key = args.value("--key");
    request.timestamp = args.value("--timestamp");
    request.trusted = args.has("--ca") ? args.value("--ca") : request.cert;
    return -1;
}

// The signed file before it replaces OUT: removed unless committed.
struct PendingFile {
    std::string path;
    bool kept = false;
    ~PendingFile()
    {
        if (!kept && !path.empty()) {
            std::error_code ignored;
            fs::remove(fs::path(path), ignored);
            forgetOnInterrupt();
        }
    }
};

#ifdef _WIN32
bool buildCommand(const SignRequest& request, const std::string& password, const std::string& target,
                  std::vector<std::string>& command, std::string& error)
{
    if (!request.cert.empty()) {
        error = "signtool takes a PKCS#12 file: use --pkcs12";
        return false;
    }
    command = {"signtool", "sign", "/fd", "sha256", "/f", request.pkcs12};
    if (!password.empty()) {
        command.push_back("/p");
        command.push_back(password);
    }
    if (!request.timestamp.empty()) {
        command.insert(command.end(), {"/tr", request.timestamp, "/td", "sha256"});
    }
    command.push_back(target);
    return true;
}
const char kSigner[] = "signtool";
#else
bool buildCommand(const SignRequest& request, const std::string& passwordFile, const std::string& target,
                  std::vector<std::string>& command, std::string&)
{
    command = {"osslsigncode", "sign", "-h", "sha256"};
    if (!request.pkcs12.empty()) {
        command.insert(command.end(), {"-pkcs12", request.pkcs12});
        if (!passwordFile.empty())
            command.insert(command.end(), {"-readpass", passwordFile});
    } else {
        command.insert(command.end(), {"-certs", request.cert, "-key", request.key});
    }
    if (!request.timestamp.empty())
        command.insert(command.end(), {"-ts", request.timestamp});
    command.insert(command.end(), {"-in", request.installer, "-out", target});
    return true;
}
const char kSigner[] = "osslsigncode";
#endif

// The signed result must still be an installer the stub reads, with the
// same entries, and its signature must verify.
bool checkSigned(const std::string& path, size_t entryCount, const std::string& trusted, std::string& error,
                 std::string& note)
{
    InstallerView view;
    if (!view.open(path, error))
        return false;
    if (!view.isSigned() || !view.archiveFound() || view.reader().entries().size() != entryCount) {
        error = "the signed file no longer holds the archive before its signature";
        return false;
    }
    std::string detail;
    bool altered = false;
    SignatureState state = checkSignature(path, true, trusted, detail, altered);
    if (state == SignatureState::Invalid && altered) {
        error = "the signature does not match the file: " + detail;
        return false;
    }
    // As verify does: a signer this machine does not trust is told, not refused.
    if (state == SignatureState::Invalid)
        note = "the signature does not verify here (" + detail + "); trust a test certificate with --ca FILE";
    else if (state == SignatureState::NotChecked)
        note = "the signature was not checked (osslsigncode missing)";
    return true;
}

} // namespace

int runSign(int argc, char** argv)
{
    SignRequest request;
    int outcome = parse(argc, argv, request);
    if (outcome >= 0)
        return outcome;

    std::string error;
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
    if (!programOnPath(kSigner))
        return reportFailure(kCommand, kExitIoError,
                             std::string(kSigner) + " not found on PATH; install it to sign");

    std::string password;
    if (!request.passwordEnv.empty()) {
        const char* value = std::getenv(request.passwordEnv.c_str());
        if (value == nullptr)
            return reportFailure(kCommand, kExitUsage,
                                 "environment variable " + request.passwordEnv + " is not set");
        password = value;
    }

    PendingFile pending;
    pending.path = scratchPathBeside(request.out, ".tmp");
    removeOnInterrupt(pending.path);
    std::vector<std::string> command;
#ifdef _WIN32
    // signtool signs in place: a copy is signed, then renamed.
    std::error_code copied;
    fs::copy_file(fs::path(request.installer), fs::path(pending.path), fs::copy_options::overwrite_existing, copied);
    if (copied)
        return reportFailure(kCommand, kExitIoError, "cannot write '" + pending.path + "': " + copied.message());
    if (!buildCommand(request, password, pending.path, command, error))
        return reportFailure(kCommand, kExitUsage, error);
#else
    SecretFile passwordFile;
    if (!password.empty() && !passwordFile.create(scratchPathBeside(request.out, ".pass"), password, error))
        return reportFailure(kCommand, kExitIoError, error);
    buildCommand(request, passwordFile.path(), pending.path, command, error);
#endif
    std::string output;
    const int code = runProgram(command, output);
    if (code != 0) {
        while (!output.empty() && (output.back() == '\n' || output.back() == '\r'))
            output.pop_back();
        size_t lastLine = output.rfind('\n');
        return reportFailure(kCommand, kExitIoError,
                             std::string(kSigner) + " failed" +
                                 (output.empty() ? std::string()
                                                 : ": " + output.substr(lastLine == std::string::npos ? 0 : lastLine + 1)));
    }
    std::string note;
    if (!checkSigned(pending.path, entryCount, request.trusted, error, note))
        return reportFailure(kCommand, kExitRefused, error);
    std::error_code renamed;
    fs::rename(fs::path(pending.path), fs::path(request.out), renamed);
    if (renamed)
        return reportFailure(kCommand, kExitIoError, "cannot rename '" + pending.path + "' to '" + request.out +
                                                         "': " + renamed.message());
    pending.kept = true;
    forgetOnInterrupt();
    std::printf("signed %s with %s\n", request.out.c_str(), kSigner);
    if (!note.empty())
        std::printf("note: %s\n", note.c_str());
    return kExitOk;
}
