#include "sign/SignerTrust.h"

#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <ctime>

#include "sign/SignerDetails.h"

namespace {

// The errors that only say the chain ends in no anchor of ours.
bool endsElsewhere(int error)
{
    return error == X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY || error == X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT ||
           error == X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN || error == X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT ||
           error == X509_V_ERR_CERT_UNTRUSTED || error == X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE;
}

// The errors that say a certificate itself is broken, whoever trusts it.
bool brokenCertificate(int error)
{
    return error == X509_V_ERR_CERT_SIGNATURE_FAILURE || error == X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE ||
           error == X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY || error == X509_V_ERR_CERT_REJECTED ||
           error == X509_V_ERR_EE_KEY_TOO_SMALL || error == X509_V_ERR_CA_MD_TOO_WEAK;
}

// The self-issued certificates the signature carries: taken as anchors for
// a second look, they let a chain that merely ends elsewhere be told from
// one whose certificates do not check out. They never vouch for anything.
OwnedStore carriedRoots(STACK_OF(X509) * carried)
{
    OwnedStore roots(X509_STORE_new());
    bool any = false;
    for (int i = 0; roots && i < sk_X509_num(carried); ++i) {
        X509* certificate = sk_X509_value(carried, i);
        if ((X509_get_extension_flags(certificate) & EXFLAG_SS) != 0 && X509_STORE_add_cert(roots.get(), certificate))
            any = true;
    }
    return any ? std::move(roots) : OwnedStore();
}

std::string errorText(const ChainVerdict& verdict)
{
    return std::string("certificate chain: ") + X509_verify_cert_error_string(verdict.error);
}

// The signer's verdict when a certificate of its chain was not valid at the
// time that counts: invalid, with the dates.
SignatureState outsideValidity(const ChainVerdict& verdict, std::string& detail)
{
    detail = verdict.validity;
    return SignatureState::Invalid;
}

} // namespace

std::string timeTextOf(time_t when)
{
    std::tm parts{};
    char text[32];
    return gmtime_r(&when, &parts) != nullptr && std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts)
               ? text
               : std::string();
}

ChainVerdict verifyChain(X509* certificate, STACK_OF(X509) * carried, X509_STORE* anchors, const time_t* at,
                         int purpose)
{
    ChainVerdict verdict;
    OwnedStoreContext context(X509_STORE_CTX_new());
    if (!context || X509_STORE_CTX_init(context.get(), anchors, certificate, carried) != 1) {
        verdict.error = X509_V_ERR_OUT_OF_MEM;
        return verdict;
    }
    X509_STORE_CTX_set_purpose(context.get(), purpose);
    if (at != nullptr)
        X509_VERIFY_PARAM_set_time(X509_STORE_CTX_get0_param(context.get()), *at);
    const int verified = X509_verify_cert(context.get());
    const int error = X509_STORE_CTX_get_error(context.get());
    verdict.error = verified == 1 ? X509_V_OK : (error == X509_V_OK ? X509_V_ERR_UNSPECIFIED : error);
    X509* failed = X509_STORE_CTX_get_current_cert(context.get());
    if ((verdict.error == X509_V_ERR_CERT_HAS_EXPIRED || verdict.error == X509_V_ERR_CERT_NOT_YET_VALID) &&
        failed != nullptr)
        verdict.validity = "the certificate " + subjectText(failed) + " is valid from " +
                           utcText(X509_get0_notBefore(failed)) + " to " + utcText(X509_get0_notAfter(failed)) +
                           (at ? ", not at " + timeTextOf(*at) + ", the timestamp's time"
                               : ", not now (" + timeTextOf(std::time(nullptr)) + ") and no timestamp verified");
    return verdict;
}

OwnedStore loadAnchors(const std::string& caFile, std::string& error)
{
    OwnedStore store(X509_STORE_new());
    if (!store)
        return store;
    ERR_clear_error();
    const bool loaded = (caFile.empty() ? X509_STORE_set_default_paths(store.get()) == 1
                                                 : X509_STORE_load_file(store.get(), caFile.c_str()) == 1);
    if (!loaded) {
        const char* reason = ERR_reason_error_string(ERR_peek_last_error());
        error = (caFile.empty() ? std::string("cannot load the system's trusted certificates")
                                : "cannot load the certificates of --ca '" + caFile + "'") +
                ": " + (reason ? reason : "no certificate");
        // A store that failed half-way may hold some: trust none of them.
        store.reset(X509_STORE_new());
    }
    return store;
}

SignatureState checkTrust(X509* signer, STACK_OF(X509) * carried, X509_STORE* anchors, const time_t* at,
                          std::string& detail)
{
    const ChainVerdict verdict = verifyChain(signer, carried, anchors, at, X509_PURPOSE_ANY);
    const int error = verdict.error;
    if (error == X509_V_OK) {
        if ((X509_get_extended_key_usage(signer) & XKU_CODE_SIGN) != 0)
            return SignatureState::Valid;
        detail = "the signer's certificate is not for code signing (extended key usage)";
        return SignatureState::Untrusted;
    }
    if (!verdict.validity.empty())
        return outsideValidity(verdict, detail);
    detail = errorText(verdict);
    if (brokenCertificate(error))
        return SignatureState::Invalid;
    if (!endsElsewhere(error))
        return SignatureState::Untrusted;
    OwnedStore roots = carriedRoots(carried);
    const ChainVerdict again = roots ? verifyChain(signer, carried, roots.get(), at, X509_PURPOSE_ANY) : ChainVerdict();
    if (!again.validity.empty())
        return outsideValidity(again, detail);
    if (brokenCertificate(again.error)) {
        detail = errorText(again);
        return SignatureState::Invalid;
    }
    return SignatureState::Untrusted;
}
