#include "sign/SignedDataCheck.h"

#include <openssl/err.h>

#include "sign/ImageDigest.h"
#include "sign/IndirectData.h"
#include "sign/OpenSslOwners.h"
#include "sign/SignerTrust.h"
#include "sign/TimestampCheck.h"

namespace {

struct SignerList {
    void operator()(STACK_OF(X509) * list) const { sk_X509_free(list); }
};

// Why PKCS7_verify refused: a messageDigest that does not match the content
// said so, anything else by libcrypto's last reason.
std::string verifyFailure()
{
    unsigned long last = 0;
    for (unsigned long code = ERR_get_error(); code != 0; code = ERR_get_error()) {
        if (ERR_GET_LIB(code) == ERR_LIB_PKCS7 && ERR_GET_REASON(code) == PKCS7_R_DIGEST_FAILURE)
            return "the signer's messageDigest does not match the signed content: it changed after signing";
        last = code;
    }
    const char* reason = last != 0 ? ERR_reason_error_string(last) : nullptr;
    return std::string("the signature does not verify") + (reason ? std::string(" (") + reason + ")" : "");
}

} // namespace

SignatureReport checkSignedData(PKCS7* signedData, ZipByteSource& file, uint64_t tableOffset, X509_STORE* anchors)
{
    if (!PKCS7_type_is_signed(signedData) || signedData->d.sign == nullptr)
        return invalidSignature("the certificate table holds no PKCS#7 SignedData");
    const IndirectData content = readIndirectData(signedData);
    if (!content.problem.empty())
        return invalidSignature(content.problem);
    if (imageDigest(file, tableOffset, content.digest) != content.imageDigest)
        return invalidSignature(kDigestMismatch);
    // Every digest the SignedData names must be one we take; libcrypto is
    // not asked to set up any other (and leaks when it cannot).
    STACK_OF(X509_ALGOR)* digests = signedData->d.sign->md_algs;
    for (int i = 0; i < sk_X509_ALGOR_num(digests); ++i) {
        const ASN1_OBJECT* algorithm = sk_X509_ALGOR_value(digests, i)->algorithm;
        if (knownDigest(algorithm) == nullptr)
            return invalidSignature("the signature names an unknown digest algorithm " + objectText(algorithm));
    }
    const int signerCount = sk_PKCS7_SIGNER_INFO_num(PKCS7_get_signer_info(signedData));
    if (signerCount != 1)
        return invalidSignature("the signature has " + std::to_string(signerCount) + " signers; Authenticode has one");

    // The signer's messageDigest over the content and its signature over the
    // authenticated attributes; the chain is judged below, for its own verdict.
    ERR_clear_error();
    OwnedBio signedBytes(BIO_new_mem_buf(content.signedBytes, int(content.signedSize)));
    if (!signedBytes || PKCS7_verify(signedData, nullptr, anchors, signedBytes.get(), nullptr,
                                     PKCS7_NOVERIFY | PKCS7_BINARY) != 1)
        return invalidSignature(verifyFailure());
    // The same look-up PKCS7_verify made: the certificate it verified with.
    std::unique_ptr<STACK_OF(X509), SignerList> signers(PKCS7_get0_signers(signedData, nullptr, 0));
    if (!signers || sk_X509_num(signers.get()) != 1)
        return invalidSignature("the signer's certificate is not in the signature");
    X509* signer = sk_X509_value(signers.get(), 0);

    PKCS7_SIGNER_INFO* info = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(signedData), 0);
    SignatureReport report;
    report.signerKnown = true;
    report.signer = describeSigner(signer, info);
    // The chain is judged at a verified timestamp's time, else now.
    const CheckedTimestamp stamp = checkTimestamp(signedData, info, anchors);
    report.signer.timestamp = stamp.details;
    report.state = checkTrust(signer, signedData->d.sign->cert, anchors, stamp.details.verified ? &stamp.when : nullptr,
                              report.detail);
    return report;
}
