#include "sign/SignerDetails.h"

#include <ctime>

#include "inspect/DigestText.h"
#include "sign/OpenSslOwners.h"

namespace {

const char kTimestampToken[] = "1.3.6.1.4.1.311.3.3.1"; // an RFC 3161 token, as Authenticode carries it

std::string thumbprint(X509* certificate, const EVP_MD* digest)
{
    unsigned char bytes[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(certificate, digest, bytes, &length) != 1)
        return std::string();
    return hexText(bytes, length, true);
}

std::string timeText(const ASN1_TIME* time)
{
    std::tm parts{};
    if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1)
        return std::string();
    char text[32];
    return std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts) ? text : std::string();
}

std::string signingTimeOf(PKCS7_SIGNER_INFO* signer)
{
    ASN1_TYPE* value = PKCS7_get_signed_attribute(signer, NID_pkcs9_signingTime);
    if (value == nullptr || (value->type != V_ASN1_UTCTIME && value->type != V_ASN1_GENERALIZEDTIME))
        return std::string();
    return timeText(value->value.utctime);
}

// The first value of the unsigned attribute `oid`, when it is a SEQUENCE.
const ASN1_STRING* unsignedSequence(PKCS7_SIGNER_INFO* signer, const ASN1_OBJECT* oid)
{
    STACK_OF(X509_ATTRIBUTE)* attributes = PKCS7_get_attributes(signer);
    for (int i = 0; i < sk_X509_ATTRIBUTE_num(attributes); ++i) {
        X509_ATTRIBUTE* attribute = sk_X509_ATTRIBUTE_value(attributes, i);
        if (OBJ_cmp(X509_ATTRIBUTE_get0_object(attribute), oid) != 0)
            continue;
        ASN1_TYPE* value = X509_ATTRIBUTE_get0_type(attribute, 0);
        return value != nullptr && value->type == V_ASN1_SEQUENCE ? value->value.sequence : nullptr;
    }
    return nullptr;
}

std::string timestampOf(PKCS7_SIGNER_INFO* signer)
{
    OwnedObject counterOid(OBJ_nid2obj(NID_pkcs9_countersignature));
    if (const ASN1_STRING* counter = unsignedSequence(signer, counterOid.get())) {
        const unsigned char* der = counter->data;
        OwnedSignerInfo info(d2i_PKCS7_SIGNER_INFO(nullptr, &der, counter->length));
        if (info)
            return signingTimeOf(info.get());
    }
    OwnedObject tokenOid(OBJ_txt2obj(kTimestampToken, 1));
    if (const ASN1_STRING* token = tokenOid ? unsignedSequence(signer, tokenOid.get()) : nullptr) {
        const unsigned char* der = token->data;
        OwnedPkcs7 pkcs7(d2i_PKCS7(nullptr, &der, token->length));
        OwnedTimestampInfo info(pkcs7 ? PKCS7_to_TS_TST_INFO(pkcs7.get()) : nullptr);
        if (info)
            return timeText(TS_TST_INFO_get_time(info.get()));
    }
    return std::string();
}

} // namespace

SignerDetails describeSigner(X509* certificate, PKCS7_SIGNER_INFO* signer)
{
    SignerDetails details;
    char subject[1024];
    if (X509_NAME_oneline(X509_get_subject_name(certificate), subject, sizeof subject) != nullptr)
        details.subject = subject;
    details.sha1 = thumbprint(certificate, EVP_sha1());
    details.sha256 = thumbprint(certificate, EVP_sha256());
    details.signingTime = signingTimeOf(signer);
    details.timestamp = timestampOf(signer);
    return details;
}
