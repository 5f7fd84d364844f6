#include "sign/WinTrustCheck_win.h"

#include <windows.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstdio>
#include <vector>

#include "Owned_win.h"
#include "platform/WidePath.h"
#include "sign/TrustAnchors_win.h"

namespace {

// One WinVerifyTrust check whose state (the parsed signature, the signer,
// its certificate) lives as long as this object; closed when it goes.
class TrustCheck {
public:
    TrustCheck(const std::wstring& path, HANDLE file)
    {
        file_.cbStruct = sizeof file_;
        file_.pcwszFilePath = path.c_str();
        file_.hFile = file;
        data_.cbStruct = sizeof data_;
        data_.dwUIChoice = WTD_UI_NONE;
        data_.fdwRevocationChecks = WTD_REVOKE_NONE;
        data_.dwProvFlags = WTD_REVOCATION_CHECK_NONE | WTD_CACHE_ONLY_URL_RETRIEVAL;
        data_.dwUnionChoice = WTD_CHOICE_FILE;
        data_.pFile = &file_;
        data_.dwStateAction = WTD_STATEACTION_VERIFY;
        status_ = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action_, &data_);
    }
    ~TrustCheck()
    {
        data_.dwStateAction = WTD_STATEACTION_CLOSE;
        WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action_, &data_);
    }
    TrustCheck(const TrustCheck&) = delete;
    TrustCheck& operator=(const TrustCheck&) = delete;

    LONG status() const { return status_; }
    CRYPT_PROVIDER_DATA* provider() const
    {
        return data_.hWVTStateData != nullptr ? WTHelperProvDataFromStateData(data_.hWVTStateData) : nullptr;
    }

private:
    GUID action_ = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    WINTRUST_FILE_INFO file_{};
    WINTRUST_DATA data_{};
    LONG status_ = TRUST_E_NOSIGNATURE;
};

// Only these say that the digest and the signature checked out and the
// signer's chain is all that failed.
bool signerOnly(LONG status)
{
    return status == CERT_E_UNTRUSTEDROOT || status == CERT_E_CHAINING || status == CERT_E_UNTRUSTEDTESTROOT ||
           status == CERT_E_EXPIRED || status == TRUST_E_EXPLICIT_DISTRUST;
}

DWORD stepError(const CRYPT_PROVIDER_DATA* provider, DWORD step)
{
    return step < provider->cdwTrustStepErrors ? provider->padwTrustStepErrors[step] : DWORD(TRUST_E_FAIL);
}

struct StatusName {
    LONG status;
    const char* name;
};

// The results a signed installer can give, by name: Wine has no message
// texts for most of them.
const StatusName kStatusNames[] = {
    {TRUST_E_NOSIGNATURE, "TRUST_E_NOSIGNATURE, no signature it could read"},
    {TRUST_E_CERT_SIGNATURE, "TRUST_E_CERT_SIGNATURE, a signature does not verify"},
    {TRUST_E_SUBJECT_FORM_UNKNOWN, "TRUST_E_SUBJECT_FORM_UNKNOWN"},
    {TRUST_E_PROVIDER_UNKNOWN, "TRUST_E_PROVIDER_UNKNOWN"},
    {TRUST_E_SUBJECT_NOT_TRUSTED, "TRUST_E_SUBJECT_NOT_TRUSTED"},
    {TRUST_E_EXPLICIT_DISTRUST, "TRUST_E_EXPLICIT_DISTRUST, the signer is distrusted on this machine"},
    {TRUST_E_NO_SIGNER_CERT, "TRUST_E_NO_SIGNER_CERT"},
    {CRYPT_E_SECURITY_SETTINGS, "CRYPT_E_SECURITY_SETTINGS"},
    {CERT_E_UNTRUSTEDROOT, "CERT_E_UNTRUSTEDROOT, its root is not trusted here"},
    {CERT_E_CHAINING, "CERT_E_CHAINING, no chain to a trusted root"},
    {CERT_E_UNTRUSTEDTESTROOT, "CERT_E_UNTRUSTEDTESTROOT"},
    {CERT_E_EXPIRED, "CERT_E_EXPIRED, a certificate was not valid at the signing time"},
    {CERT_E_WRONG_USAGE, "CERT_E_WRONG_USAGE, not a code-signing certificate"},
};

std::string statusText(LONG status)
{
    if (status == TRUST_E_BAD_DIGEST)
        return kDigestMismatch;
    char text[512];
    int used = std::snprintf(text, sizeof text, "WinVerifyTrust: 0x%08lX", static_cast<unsigned long>(status));
    for (const StatusName& known : kStatusNames)
        if (known.status == status && used > 0)
            used += std::snprintf(text + used, sizeof text - size_t(used), " (%s)", known.name);
    char message[400];
    DWORD size = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, DWORD(status),
                                0, message, sizeof message, nullptr);
    while (size > 0 && (message[size - 1] == '\n' || message[size - 1] == '\r' || message[size - 1] == ' ' ||
                        message[size - 1] == '.'))
        message[--size] = '\0';
    if (size > 0 && used > 0)
        std::snprintf(text + used, sizeof text - size_t(used), ", %s", message);
    return text;
}

std::string utf8(const std::wstring& wide)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string text(size_t(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), &text[0], size, nullptr, nullptr);
    return text;
}

// "/CN=.../O=...", in the order of the encoded name.
std::string subjectText(PCCERT_CONTEXT cert)
{
    DWORD type = CERT_X500_NAME_STR | CERT_NAME_STR_CRLF_FLAG | CERT_NAME_STR_NO_QUOTING_FLAG;
    const DWORD size = CertGetNameStringW(cert, CERT_NAME_RDN_TYPE, 0, &type, nullptr, 0);
    std::wstring name(size, L'\0');
    CertGetNameStringW(cert, CERT_NAME_RDN_TYPE, 0, &type, &name[0], size);
    name.resize(size > 0 ? size - 1 : 0);
    std::string text;
    size_t start = 0;
    while (start < name.size()) {
        size_t end = name.find(L"\r\n", start);
        if (end == std::wstring::npos)
            end = name.size();
        text += "/" + utf8(name.substr(start, end - start));
        start = end + 2;
    }
    return text;
}

std::string hexText(const BYTE* bytes, DWORD size)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (DWORD i = 0; i < size; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 15];
    }
    return text;
}

// A thumbprint from the certificate's property, or, where the system keeps
// no such property, hashed by CryptoAPI over the same encoding.
std::string thumbprint(PCCERT_CONTEXT cert, DWORD property, const wchar_t* algorithm)
{
    BYTE hash[32];
    DWORD size = sizeof hash;
    if (CertGetCertificateContextProperty(cert, property, hash, &size) ||
        CryptHashCertificate2(algorithm, 0, nullptr, cert->pbCertEncoded, cert->cbCertEncoded, hash,
                              &(size = sizeof hash)))
        return hexText(hash, size);
    return std::string();
}

std::string timeText(const FILETIME& time)
{
    SYSTEMTIME utc{};
    if (!FileTimeToSystemTime(&time, &utc))
        return std::string();
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u UTC", utc.wYear, utc.wMonth, utc.wDay, utc.wHour,
                  utc.wMinute, utc.wSecond);
    return text;
}

// The signing-time attribute a signer info carries, or empty.
std::string signingTime(const CMSG_SIGNER_INFO* info)
{
    if (info == nullptr)
        return std::string();
    for (DWORD i = 0; i < info->AuthAttrs.cAttr; ++i) {
        const CRYPT_ATTRIBUTE& attribute = info->AuthAttrs.rgAttr[i];
        if (std::string(attribute.pszObjId) != szOID_RSA_signingTime || attribute.cValue == 0)
            continue;
        FILETIME time{};
        DWORD size = sizeof time;
        if (CryptDecodeObject(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, szOID_RSA_signingTime,
                              attribute.rgValue[0].pbData, attribute.rgValue[0].cbData, 0, &time, &size))
            return timeText(time);
    }
    return std::string();
}

SignerDetails signerDetails(const CRYPT_PROVIDER_SGNR& signer, PCCERT_CONTEXT cert)
{
    SignerDetails details;
    details.subject = subjectText(cert);
    details.sha1 = thumbprint(cert, CERT_HASH_PROP_ID, L"SHA1");
    details.sha256 = thumbprint(cert, CERT_SHA256_HASH_PROP_ID, L"SHA256");
    details.signingTime = signingTime(signer.psSigner);
    // The timestamp WinVerifyTrust loaded (an RFC 3161 token or a
    // countersignature): it checked it, and judged the chain at its time
    // when it verified. Its time is shown only then.
    if (signer.csCounterSigners > 0) {
        const CRYPT_PROVIDER_SGNR& counter = signer.pasCounterSigners[0];
        TimestampDetails& stamp = details.timestamp;
        stamp.kind = "timestamp, checked by WinVerifyTrust";
        if (counter.csCertChain > 0 && counter.pasCertChain[0].pCert != nullptr)
            stamp.authority = subjectText(counter.pasCertChain[0].pCert);
        stamp.verified = counter.dwError == 0;
        if (stamp.verified) {
            stamp.time = signingTime(counter.psSigner);
            if (stamp.time.empty())
                stamp.time = timeText(signer.sftVerifyAsOf);
        } else {
            stamp.problem = statusText(LONG(counter.dwError));
        }
    }
    // Windows builds the chain itself: the carried certificates and the
    // anchors guessed from them are not needed here.
    return details;
}

// Outside its validity at the time that counts (the timestamp's, else now):
// invalid, as natively, naming the signer's dates.
SignatureReport outsideValidity(SignatureReport report, PCCERT_CONTEXT cert, const std::string& reason)
{
    report.state = SignatureState::Invalid;
    report.detail = reason + "; the certificate " + report.signer.subject + " is valid from " +
                    timeText(cert->pCertInfo->NotBefore) + " to " + timeText(cert->pCertInfo->NotAfter);
    return report;
}

} // namespace

SignatureReport winTrustCheck(const std::string& path, const std::string& trustedCertificates)
{
    SignatureReport report;
    CertStore anchors;
    std::string anchorProblem;
    if (!trustedCertificates.empty())
        loadTrustAnchors(trustedCertificates, anchors, anchorProblem);
    const std::wstring wide = widePath(path);
    // Shared for reading only: nobody writes the file while it is checked.
    UniqueHandle file(CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    TrustCheck check(wide, file.valid() ? file.get() : nullptr);
    const LONG status = check.status();
    CRYPT_PROVIDER_DATA* provider = check.provider();
    CRYPT_PROVIDER_SGNR* signer = provider != nullptr ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    CRYPT_PROVIDER_CERT* cert = signer != nullptr ? WTHelperGetProvCertFromChain(signer, 0) : nullptr;
    // The digest and the signature checked out with this very certificate.
    const bool verified = cert != nullptr && cert->pCert != nullptr &&
                          stepError(provider, TRUSTERROR_STEP_FINAL_OBJPROV) == 0 &&
                          stepError(provider, TRUSTERROR_STEP_FINAL_SIGPROV) == 0;
    if (!verified || (status != ERROR_SUCCESS && !signerOnly(status))) {
        report.state = SignatureState::Invalid;
        report.detail = status != ERROR_SUCCESS && !signerOnly(status)
                            ? statusText(status)
                            : "WinVerifyTrust named no signer it verified the signature with";
        return report;
    }
    report.signerKnown = true;
    report.signer = signerDetails(*signer, cert->pCert);
    if (status == CERT_E_EXPIRED)
        return outsideValidity(report, cert->pCert, statusText(status));
    report.state = status == ERROR_SUCCESS ? SignatureState::Valid : SignatureState::Untrusted;
    report.detail = status == ERROR_SUCCESS ? std::string() : statusText(status);
    // --ca alone decides trust then, but never over the machine's explicit distrust.
    if (trustedCertificates.empty() || status == TRUST_E_EXPLICIT_DISTRUST)
        return report;
    const AnchorChain chain =
        anchorProblem.empty() ? chainToAnchors(cert->pCert, signer->sftVerifyAsOf, anchors.get()) : AnchorChain{anchorProblem};
    if (chain.outsideValidity)
        return outsideValidity(report, cert->pCert, chain.problem);
    report.state = chain.problem.empty() ? SignatureState::Valid : SignatureState::Untrusted;
    report.detail = chain.problem;
    return report;
}
