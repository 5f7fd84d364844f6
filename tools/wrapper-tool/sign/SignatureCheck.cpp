#include "sign/SignatureCheck.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

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
    }
    return "unknown";
}

const char kDigestMismatch[] = "the file changed after it was signed (digest mismatch)";

SignatureReport invalidSignature(std::string detail)
{
    SignatureReport report;
    report.state = SignatureState::Invalid;
    report.detail = std::move(detail);
    return report;
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

std::string signatureProblem(const SignatureReport& report, bool required)
{
    switch (report.state) {
    case SignatureState::Invalid:
        return "the signature is invalid" + (report.detail.empty() ? std::string() : ": " + report.detail);
    case SignatureState::Untrusted:
        return required ? "the signer is not trusted (" + report.detail + ")" : std::string();
    case SignatureState::None:
        return required ? std::string("the installer is not signed") : std::string();
    case SignatureState::Valid:
        break;
    }
    return std::string();
}
