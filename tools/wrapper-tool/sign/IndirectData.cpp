#include "sign/IndirectData.h"

#include "sign/OpenSslOwners.h"

const EVP_MD* knownDigest(const ASN1_OBJECT* algorithm)
{
    switch (OBJ_obj2nid(algorithm)) {
    case NID_sha1:
        return EVP_sha1();
    case NID_sha256:
        return EVP_sha256();
    case NID_sha384:
        return EVP_sha384();
    case NID_sha512:
        return EVP_sha512();
    default:
        return nullptr;
    }
}

std::string objectText(const ASN1_OBJECT* object)
{
    char text[128];
    return OBJ_obj2txt(text, sizeof text, object, 1) > 0 ? text : "?";
}

namespace {

const char kSpcIndirectData[] = "1.3.6.1.4.1.311.2.1.4";

OwnedAsn1Sequence sequenceItems(const ASN1_STRING* sequence)
{
    const unsigned char* der = sequence->data;
    return OwnedAsn1Sequence(d2i_ASN1_SEQUENCE_ANY(nullptr, &der, sequence->length));
}

// DigestInfo ::= SEQUENCE { AlgorithmIdentifier, OCTET STRING }.
std::string readDigestInfo(const ASN1_TYPE* item, IndirectData& data)
{
    if (item->type != V_ASN1_SEQUENCE)
        return "the signed content holds no DigestInfo";
    OwnedAsn1Sequence fields = sequenceItems(item->value.sequence);
    if (!fields || sk_ASN1_TYPE_num(fields.get()) != 2)
        return "the signed content's DigestInfo does not parse";
    const ASN1_TYPE* algorithmItem = sk_ASN1_TYPE_value(fields.get(), 0);
    const ASN1_TYPE* digestItem = sk_ASN1_TYPE_value(fields.get(), 1);
    if (algorithmItem->type != V_ASN1_SEQUENCE || digestItem->type != V_ASN1_OCTET_STRING)
        return "the signed content's DigestInfo does not parse";
    const unsigned char* der = algorithmItem->value.sequence->data;
    OwnedAlgorithm algorithm(d2i_X509_ALGOR(nullptr, &der, algorithmItem->value.sequence->length));
    if (!algorithm)
        return "the signed content's digest algorithm does not parse";
    const ASN1_OBJECT* oid = nullptr;
    X509_ALGOR_get0(&oid, nullptr, nullptr, algorithm.get());
    data.digest = knownDigest(oid);
    if (data.digest == nullptr)
        return "unknown digest algorithm " + objectText(oid);
    const ASN1_OCTET_STRING* digest = digestItem->value.octet_string;
    if (digest->length != EVP_MD_get_size(data.digest))
        return "the signed image digest has the wrong length for " + std::string(EVP_MD_get0_name(data.digest));
    data.imageDigest.assign(digest->data, digest->data + digest->length);
    return std::string();
}

std::string read(PKCS7* signedData, IndirectData& data)
{
    PKCS7* content = signedData->d.sign->contents;
    OwnedObject expected(OBJ_txt2obj(kSpcIndirectData, 1));
    if (content == nullptr || content->type == nullptr || OBJ_cmp(content->type, expected.get()) != 0)
        return "the signed content is not Authenticode's SpcIndirectDataContent";
    const ASN1_TYPE* value = content->d.other;
    if (value == nullptr || value->type != V_ASN1_SEQUENCE)
        return "the signed content is missing";
    // The content without its own tag and length: what messageDigest covers.
    const ASN1_STRING* sequence = value->value.sequence;
    const unsigned char* inner = sequence->data;
    long length = 0;
    int tag = 0;
    int tagClass = 0;
    if (ASN1_get_object(&inner, &length, &tag, &tagClass, sequence->length) & 0x80)
        return "the signed content does not parse";
    data.signedBytes = inner;
    data.signedSize = length;
    // SpcIndirectDataContent ::= SEQUENCE { data, messageDigest DigestInfo }.
    OwnedAsn1Sequence fields = sequenceItems(sequence);
    if (!fields || sk_ASN1_TYPE_num(fields.get()) != 2)
        return "the signed content does not parse as SpcIndirectDataContent";
    return readDigestInfo(sk_ASN1_TYPE_value(fields.get(), 1), data);
}

} // namespace

IndirectData readIndirectData(PKCS7* signedData)
{
    IndirectData data;
    data.problem = read(signedData, data);
    return data;
}
