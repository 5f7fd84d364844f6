// verify's signature check off Windows, in process with libcrypto: one read
// of the file, and every verdict and detail from the bytes it checked.
#include "sign/SignatureCheck.h"

#include "sign/CertificateTable.h"
#include "sign/OpenSslOwners.h"
#include "sign/SignedDataCheck.h"
#include "sign/SignerTrust.h"

namespace {

const char kNestedSignature[] = "1.3.6.1.4.1.311.2.4.1"; // what `osslsigncode sign -nest` adds

OwnedPkcs7 parseSignedData(const uint8_t* der, long size)
{
    const unsigned char* at = der;
    OwnedPkcs7 parsed(d2i_PKCS7(nullptr, &at, size));
    return parsed && at == der + size ? std::move(parsed) : OwnedPkcs7();
}

// The signatures nested in the primary signer's unsigned attributes, each
// with its own verdict. They are told, never counted for the primary.
std::vector<SignatureReport> nestedSignatures(PKCS7* primary, ZipByteSource& file, uint64_t tableOffset,
                                              X509_STORE* anchors)
{
    std::vector<SignatureReport> nested;
    OwnedObject oid(OBJ_txt2obj(kNestedSignature, 1));
    PKCS7_SIGNER_INFO* signer = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(primary), 0);
    STACK_OF(X509_ATTRIBUTE)* attributes = signer ? PKCS7_get_attributes(signer) : nullptr;
    for (int i = 0; oid && i < sk_X509_ATTRIBUTE_num(attributes); ++i) {
        X509_ATTRIBUTE* attribute = sk_X509_ATTRIBUTE_value(attributes, i);
        if (OBJ_cmp(X509_ATTRIBUTE_get0_object(attribute), oid.get()) != 0)
            continue;
        for (int v = 0; v < X509_ATTRIBUTE_count(attribute); ++v) {
            const ASN1_TYPE* value = X509_ATTRIBUTE_get0_type(attribute, v);
            OwnedPkcs7 inner = value && value->type == V_ASN1_SEQUENCE
                                   ? parseSignedData(value->value.sequence->data, value->value.sequence->length)
                                   : OwnedPkcs7();
            nested.push_back(inner ? checkSignedData(inner.get(), file, tableOffset, anchors)
                                   : invalidSignature("the nested signature is no PKCS#7 SignedData"));
        }
    }
    return nested;
}

} // namespace

SignatureReport checkSignature(const std::string&, ZipByteSource& file, const std::string& trustedCertificates)
{
    const CertificateTable table = readCertificateTable(file);
    if (!table.present)
        return SignatureReport();
    if (!table.sound())
        return invalidSignature(table.problem);
    std::vector<uint8_t> scratch;
    const uint8_t* der = readSourceBytes(file, table.pkcs7Offset, table.pkcs7Size, scratch);
    if (der == nullptr)
        return invalidSignature("the certificate table cannot be read");
    OwnedPkcs7 signedData = parseSignedData(der, long(table.pkcs7Size));
    if (!signedData)
        return invalidSignature("the certificate table holds no PKCS#7 SignedData that parses");
    std::string error;
    OwnedStore anchors = loadAnchors(trustedCertificates, error);
    if (!anchors)
        return invalidSignature("out of memory");
    SignatureReport report = checkSignedData(signedData.get(), file, table.offset, anchors.get());
    if (!error.empty() && report.state == SignatureState::Untrusted)
        report.detail = error;
    report.nested = nestedSignatures(signedData.get(), file, table.offset, anchors.get());
    return report;
}
