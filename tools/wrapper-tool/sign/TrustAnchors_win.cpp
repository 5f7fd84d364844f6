#include "sign/TrustAnchors_win.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/WidePath.h"

namespace {

const char kBegin[] = "-----BEGIN CERTIFICATE-----";
const char kEnd[] = "-----END CERTIFICATE-----";

struct ChainEngineCloser {
    static HCERTCHAINENGINE empty() { return nullptr; }
    static bool none(HCERTCHAINENGINE engine) { return engine == nullptr; }
    static void close(HCERTCHAINENGINE engine) { CertFreeCertificateChainEngine(engine); }
};
struct ChainCloser {
    static PCCERT_CHAIN_CONTEXT empty() { return nullptr; }
    static bool none(PCCERT_CHAIN_CONTEXT chain) { return chain == nullptr; }
    static void close(PCCERT_CHAIN_CONTEXT chain) { CertFreeCertificateChain(chain); }
};

bool readWhole(const std::string& path, std::string& text)
{
    std::FILE* file = _wfopen(widePath(path).c_str(), L"rb");
    if (file == nullptr)
        return false;
    char buffer[1 << 14];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, got);
    const bool read = !std::ferror(file);
    std::fclose(file);
    return read;
}

// One PEM block, decoded by CryptoAPI, added to `store`.
bool addPemBlock(const std::string& block, HCERTSTORE store)
{
    DWORD size = 0;
    if (!CryptStringToBinaryA(block.data(), DWORD(block.size()), CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr,
                              nullptr))
        return false;
    std::vector<BYTE> der(size);
    return CryptStringToBinaryA(block.data(), DWORD(block.size()), CRYPT_STRING_BASE64HEADER, der.data(), &size,
                                nullptr, nullptr) &&
           CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size,
                                            CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
}

// The same certificate, byte for byte (issuer and serial number alone can
// be copied by anyone).
bool holdsExactly(HCERTSTORE store, PCCERT_CONTEXT wanted)
{
    PCCERT_CONTEXT each = nullptr;
    while ((each = CertEnumCertificatesInStore(store, each)) != nullptr) {
        if (each->cbCertEncoded == wanted->cbCertEncoded &&
            std::memcmp(each->pbCertEncoded, wanted->pbCertEncoded, wanted->cbCertEncoded) == 0) {
            CertFreeCertificateContext(each);
            return true;
        }
    }
    return false;
}

std::string chainErrorText(DWORD errors)
{
    if (errors & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN))
        return "its chain ends in no certificate of --ca";
    if (errors & CERT_TRUST_IS_NOT_SIGNATURE_VALID)
        return "a certificate of its chain does not carry a valid signature";
    if (errors & CERT_TRUST_IS_NOT_TIME_VALID)
        return "a certificate of its chain was not valid at the signing time";
    if (errors & (CERT_TRUST_IS_NOT_VALID_FOR_USAGE | CERT_TRUST_CTL_IS_NOT_VALID_FOR_USAGE))
        return "its chain is not valid for code signing";
    if (errors & CERT_TRUST_IS_EXPLICIT_DISTRUST)
        return "a certificate of its chain is explicitly distrusted on this machine";
    char text[64];
    std::snprintf(text, sizeof text, "its chain has errors (trust status 0x%08lX)", (unsigned long)errors);
    return text;
}

} // namespace

bool loadTrustAnchors(const std::string& pemPath, CertStore& anchors, std::string& error)
{
    std::string text;
    if (!readWhole(pemPath, text)) {
        error = "cannot read --ca '" + pemPath + "'";
        return false;
    }
    anchors.reset(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
    if (!anchors.valid()) {
        error = "cannot make a certificate store";
        return false;
    }
    size_t count = 0;
    for (size_t at = text.find(kBegin); at != std::string::npos; at = text.find(kBegin, at + 1)) {
        const size_t end = text.find(kEnd, at);
        if (end == std::string::npos)
            break;
        if (!addPemBlock(text.substr(at, end + std::strlen(kEnd) - at), anchors.get())) {
            error = "--ca '" + pemPath + "': certificate " + std::to_string(count + 1) + " does not parse";
            return false;
        }
        ++count;
    }
    if (count == 0) {
        error = "--ca '" + pemPath + "' holds no PEM certificate";
        return false;
    }
    return true;
}

AnchorChain chainToAnchors(PCCERT_CONTEXT signer, const FILETIME& when, HCERTSTORE anchors)
{
    CERT_CHAIN_ENGINE_CONFIG config{};
    config.cbSize = sizeof config;
    config.hExclusiveRoot = anchors;
    config.dwFlags = CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL | CERT_CHAIN_DISABLE_AIA;
    Owned<HCERTCHAINENGINE, ChainEngineCloser> engine;
    if (!CertCreateCertificateChainEngine(&config, engine.receive()))
        return {"no chain engine for --ca"};
    LPSTR codeSigning[] = {const_cast<LPSTR>(szOID_PKIX_KP_CODE_SIGNING)};
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = codeSigning;
    FILETIME at = when;
    Owned<PCCERT_CHAIN_CONTEXT, ChainCloser> chain;
    if (!CertGetCertificateChain(engine.get(), signer, &at, signer->hCertStore, &para,
                                 CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL | CERT_CHAIN_DISABLE_AIA, nullptr,
                                 chain.receive()) ||
        chain.get()->cChain == 0)
        return {"no chain could be built for it"};
    // Revocation is never checked (no fetch, ever): its unknown state is no error.
    const DWORD errors = chain.get()->TrustStatus.dwErrorStatus &
                         ~DWORD(CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION);
    if (errors != CERT_TRUST_NO_ERROR)
        return {chainErrorText(errors), (errors & CERT_TRUST_IS_NOT_TIME_VALID) != 0};
    const CERT_SIMPLE_CHAIN* simple = chain.get()->rgpChain[chain.get()->cChain - 1];
    if (simple->cElement == 0 || !holdsExactly(anchors, simple->rgpElement[simple->cElement - 1]->pCertContext))
        return {chainErrorText(CERT_TRUST_IS_UNTRUSTED_ROOT)};
    return {};
}
