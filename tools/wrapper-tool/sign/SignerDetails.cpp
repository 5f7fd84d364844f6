#include "sign/SignerDetails.h"

#include <ctime>

#include "inspect/DigestText.h"

namespace {

std::string thumbprint(X509* certificate, const EVP_MD* digest)
{
    unsigned char bytes[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(certificate, digest, bytes, &length) != 1)
        return std::string();
    return hexText(bytes, length, true);
}

std::string signingTimeOf(PKCS7_SIGNER_INFO* signer)
{
    ASN1_TYPE* value = PKCS7_get_signed_attribute(signer, NID_pkcs9_signingTime);
    if (value == nullptr || (value->type != V_ASN1_UTCTIME && value->type != V_ASN1_GENERALIZEDTIME))
        return std::string();
    return utcText(value->value.utctime);
}

} // namespace

std::string utcText(const ASN1_TIME* time)
{
    std::tm parts{};
    if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1)
        return std::string();
    char text[32];
    return std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts) ? text : std::string();
}

std::string subjectText(X509* certificate)
{
    char subject[1024];
    return X509_NAME_oneline(X509_get_subject_name(certificate), subject, sizeof subject) != nullptr ? subject
                                                                                                    : std::string();
}

SignerDetails describeSigner(X509* certificate, PKCS7_SIGNER_INFO* signer)
{
    SignerDetails details;
    details.subject = subjectText(certificate);
    details.sha1 = thumbprint(certificate, EVP_sha1());
    details.sha256 = thumbprint(certificate, EVP_sha256());
    details.signingTime = signingTimeOf(signer);
    return details;
}
