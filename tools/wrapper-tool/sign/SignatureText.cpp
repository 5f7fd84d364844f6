#include "sign/SignatureText.h"

#include <cstdio>

#include "inspect/InstallerView.h"
#include "inspect/Json.h"

namespace {

// One line: a verified time with its authority, or why there is none.
std::string timestampText(const TimestampDetails& stamp)
{
    if (!stamp.present())
        return "none (the certificates are checked now)";
    const std::string by = stamp.kind + (stamp.authority.empty() ? std::string() : " by " + stamp.authority);
    if (stamp.verified)
        return stamp.time + ", " + by + ", verified (the certificates are checked at this time)";
    return "failed, " + by + ": " + stamp.problem + " (not counted: the certificates are checked now)";
}

} // namespace

void printSignature(const InstallerView& view, const SignatureReport& report)
{
    if (!view.isSigned()) {
        std::printf("signature:     none\n");
        return;
    }
    const std::string detail = report.detail.empty() ? std::string() : " (" + report.detail + ")";
    std::printf("signature:     %s, certificate table of %llu bytes at offset %llu%s\n",
                signatureStateText(report.state), (unsigned long long)view.certificateTableSize(),
                (unsigned long long)view.searchSize(), detail.c_str());
    if (report.signerKnown) {
        const SignerDetails& signer = report.signer;
        std::printf("signer:        %s\n", signer.subject.c_str());
        std::printf("thumbprint:    SHA-1 %s\n", signer.sha1.c_str());
        std::printf("thumbprint:    SHA-256 %s\n", signer.sha256.c_str());
        if (!signer.signingTime.empty())
            std::printf("signing time:  %s (the signer's own clock)\n", signer.signingTime.c_str());
        std::printf("timestamp:     %s\n", timestampText(signer.timestamp).c_str());
    }
    // Told apart from the primary: a nested signature decides nothing.
    for (const SignatureReport& nested : report.nested) {
        const std::string why = nested.detail.empty() ? std::string() : " (" + nested.detail + ")";
        std::printf("nested:        %s%s%s, not counted for the installer\n", signatureStateText(nested.state),
                    nested.signerKnown ? (", signed by " + nested.signer.subject).c_str() : "", why.c_str());
    }
}

JsonDocument nestedSignaturesJson(const SignatureReport& report)
{
    JsonDocument list = JsonDocument::array();
    for (const SignatureReport& nested : report.nested) {
        JsonDocument entry = {{"signature", signatureStateText(nested.state)}, {"signer", signerJson(nested)}};
        if (!nested.detail.empty())
            entry["signature_detail"] = nested.detail;
        list.push_back(entry);
    }
    return list;
}

JsonDocument signerJson(const SignatureReport& report)
{
    if (!report.signerKnown)
        return nullptr;
    const SignerDetails& signer = report.signer;
    auto optional = [](const std::string& text) { return text.empty() ? JsonDocument(nullptr) : JsonDocument(text); };
    return {{"subject", signer.subject},
            {"sha1", signer.sha1},
            {"sha256", signer.sha256},
            {"signing_time", optional(signer.signingTime)},
            {"timestamp", timestampJson(signer.timestamp)}};
}

JsonDocument timestampJson(const TimestampDetails& stamp)
{
    if (!stamp.present())
        return nullptr;
    auto optional = [](const std::string& text) { return text.empty() ? JsonDocument(nullptr) : JsonDocument(text); };
    return {{"kind", stamp.kind},
            {"authority", optional(stamp.authority)},
            {"verified", stamp.verified},
            {"time", optional(stamp.time)},
            {"problem", optional(stamp.problem)}};
}
