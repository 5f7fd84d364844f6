#include "sign/SignatureCheck.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include "sign/WinTrustCheck_win.h"
#else
#include "platform/ExternalTool.h"
#endif

const char* signatureStateText(SignatureState state)
{
    switch (state) {
    case SignatureState::None:
        return "none";
    case SignatureState::Valid:
        return "valid";
    case SignatureState::Untrusted:
        return "untrusted";
    case SignatureState::Invalid:
        return "invalid";
    case SignatureState::NotChecked:
        return "present but not checked (tool missing)";
    }
    return "unknown";
}

bool trustFileReadable(const std::string& path, std::string& error)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = "cannot read --ca '" + path + "': " + std::strerror(errno);
        return false;
    }
    std::fclose(file);
    return true;
}

std::string signatureProblem(const SignatureReport& report, bool strict, bool required)
{
    switch (report.state) {
    case SignatureState::Invalid:
        return "the signature is invalid" + (report.detail.empty() ? std::string() : ": " + report.detail);
    case SignatureState::Untrusted:
        return strict ? "the signer is not trusted (" + report.detail + ")" : std::string();
    case SignatureState::NotChecked:
        return strict ? std::string("the signature could not be checked (osslsigncode missing)") : std::string();
    case SignatureState::None:
        return required ? std::string("the installer is not signed") : std::string();
    case SignatureState::Valid:
        break;
    }
    return std::string();
}

#ifdef _WIN32

SignatureReport checkSignature(const std::string& path, const uint8_t* table, size_t,
                               const std::string& trustedCertificates)
{
    if (table == nullptr)
        return SignatureReport();
    return winTrustCheck(path, trustedCertificates);
}

#else

namespace {

// The checker's reason: its "Error: ..." or "Verify error: ..." line when it
// gives one, else the reason of OpenSSL's last queued error
// ("...:error:CODE:LIBRARY:FUNCTION:REASON:FILE:LINE:"), else its last line
// that speaks of a failure.
std::string failureReason(const std::string& output)
{
    std::string queued;
    std::string failure;
    for (const std::string& line : outputLines(output)) {
        for (const char* marker : {"Verify error: ", "Error: "}) {
            const size_t at = line.find(marker);
            if (at != std::string::npos)
                return line.substr(at + std::strlen(marker));
        }
        const size_t error = line.find(":error:");
        if (error != std::string::npos) {
            // Past CODE, LIBRARY and FUNCTION.
            size_t field = error + 7;
            for (int skip = 0; skip < 3 && field != 0; ++skip)
                field = line.find(':', field) + 1; // npos + 1 == 0: too few fields
            if (field != 0)
                queued = line.substr(field, line.find(':', field) - field);
        } else if (line.find("fail") != std::string::npos) {
            failure = line;
        }
    }
    return queued.empty() ? failure : queued;
}

// osslsigncode's verdict, trusting `anchors` (a file, or PEM text on its
// standard input when `anchorText` is given).
int runVerify(const std::string& path, const std::string& anchors, const std::string& anchorText,
              std::string& output)
{
    std::vector<std::string> command = {"osslsigncode", "verify", "-in", path};
    if (!anchors.empty())
        command.insert(command.end(), {"-CAfile", anchors});
    return runProgram(command, output, anchorText);
}

bool brokenSignature(const std::string& output)
{
    return output.find("MISMATCH") != std::string::npos || output.find("signature failure") != std::string::npos;
}

// Whether all that failed is the chain to a trusted certificate.
bool chainOnly(const std::string& output)
{
    return output.find("certificate verify error") != std::string::npos && !brokenSignature(output);
}

} // namespace

SignatureReport checkSignature(const std::string& path, const uint8_t* table, size_t tableSize,
                               const std::string& trustedCertificates)
{
    SignatureReport report;
    if (table == nullptr)
        return report;
    report.signerKnown = readSignerDetails(table, tableSize, report.signer);
    report.state = SignatureState::NotChecked;
    if (!programOnPath("osslsigncode"))
        return report;
    std::string output;
    const int code = runVerify(path, trustedCertificates, std::string(), output);
    if (code < 0)
        return report;
    if (code == 0) {
        report.state = SignatureState::Valid;
        return report;
    }
    // Only a chain that ends in no trusted certificate is the signer's
    // matter; anything else (a digest that differs from the file's own, a
    // signature value or certificate that does not check out) is a broken
    // signature.
    bool broken = !chainOnly(output);
    std::string decisive = output;
    if (!broken && report.signerKnown) {
        // The chain is checked first: the signature value, and every
        // certificate below the roots it carries, only once those roots
        // are taken as trusted.
        const std::string roots = certificatesPem(report.signer.anchors);
        std::string again;
        if (roots.size() <= kLargestProgramInput && runVerify(path, "/dev/stdin", roots, again) != 0 &&
            !chainOnly(again)) {
            broken = true;
            decisive = again;
        }
    }
    report.state = broken ? SignatureState::Invalid : SignatureState::Untrusted;
    report.detail = decisive.find("MISMATCH") != std::string::npos
                        ? "the file changed after it was signed (digest mismatch)"
                        : failureReason(decisive);
    return report;
}

#endif
