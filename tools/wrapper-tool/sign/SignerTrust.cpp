#include "sign/SignerTrust.h"

#include <openssl/err.h>
#include <openssl/x509v3.h>

namespace {

// The chain's verdict from libcrypto: X509_V_OK or its error code.
int verifyChain(X509* signer, STACK_OF(X509) * carried, X509_STORE* anchors)
{
    OwnedStoreContext context(X509_STORE_CTX_new());
    if (!context || X509_STORE_CTX_init(context.get(), anchors, signer, carried) != 1)
        return X509_V_ERR_OUT_OF_MEM;
    X509_STORE_CTX_set_purpose(context.get(), X509_PURPOSE_ANY);
    const int verified = X509_verify_cert(context.get());
    const int error = X509_STORE_CTX_get_error(context.get());
    return verified == 1 ? X509_V_OK : (error == X509_V_OK ? X509_V_ERR_UNSPECIFIED : error);
}

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

std::string errorText(int error)
{
    return std::string("certificate chain: ") + X509_verify_cert_error_string(error);
}

} // namespace

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

SignatureState checkTrust(X509* signer, STACK_OF(X509) * carried, X509_STORE* anchors, std::string& detail)
{
    const int error = verifyChain(signer, carried, anchors);
    if (error == X509_V_OK) {
        if ((X509_get_extended_key_usage(signer) & XKU_CODE_SIGN) != 0)
            return SignatureState::Valid;
        detail = "the signer's certificate is not for code signing (extended key usage)";
        return SignatureState::Untrusted;
    }
    detail = errorText(error);
    if (brokenCertificate(error))
        return SignatureState::Invalid;
    if (!endsElsewhere(error))
        return SignatureState::Untrusted;
    OwnedStore roots = carriedRoots(carried);
    const int again = roots ? verifyChain(signer, carried, roots.get()) : X509_V_OK;
    if (brokenCertificate(again)) {
        detail = errorText(again);
        return SignatureState::Invalid;
    }
    return SignatureState::Untrusted;
}
