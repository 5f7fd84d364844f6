// A signer's timestamp, checked by libcrypto before its time is used: a
// timestamp that does not verify is never a time, and never moves the
// moment the signer's certificate is judged at.
#include "sign/TimestampCheck.h"

#include <ctime>

#include <openssl/err.h>
#include <openssl/ts.h>

#include "sign/IndirectData.h"
#include "sign/OpenSslOwners.h"
#include "sign/SignerTrust.h"

namespace {

const char kRfc3161Token[] = "1.3.6.1.4.1.311.3.3.1"; // an RFC 3161 token, as Authenticode carries it
const char kRfc3161[] = "RFC 3161";
const char kCountersignature[] = "Authenticode countersignature";

// The store's verification time for as long as this lives: libcrypto's
// time-stamp check builds its chain from the store's own parameters.
class StoreTime {
public:
    StoreTime(X509_STORE* store, time_t when) : param_(X509_STORE_get0_param(store))
    {
        X509_VERIFY_PARAM_set_time(param_, when);
    }
    ~StoreTime() { X509_VERIFY_PARAM_clear_flags(param_, X509_V_FLAG_USE_CHECK_TIME); }
    StoreTime(const StoreTime&) = delete;
    StoreTime& operator=(const StoreTime&) = delete;

private:
    X509_VERIFY_PARAM* param_;
};

bool timeOf(const ASN1_TIME* time, time_t& when)
{
    std::tm parts{};
    if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1)
        return false;
    when = timegm(&parts);
    return true;
}

// libcrypto's reason: its time-stamp library's own when it gave one (with
// the chain's error it adds), else the first in the queue.
std::string failureReason(const char* fallback)
{
    std::string first, stamp;
    const char* data = nullptr;
    int flags = 0;
    for (unsigned long code = ERR_get_error_all(nullptr, nullptr, nullptr, &data, &flags); code != 0;
         code = ERR_get_error_all(nullptr, nullptr, nullptr, &data, &flags)) {
        const char* reason = ERR_reason_error_string(code);
        std::string text = reason ? reason : fallback;
        if (data != nullptr && (flags & ERR_TXT_STRING) != 0 && *data != '\0')
            text += std::string(" (") + data + ")";
        if (first.empty())
            first = text;
        if (ERR_GET_LIB(code) == ERR_LIB_TS)
            stamp = text;
    }
    return !stamp.empty() ? stamp : !first.empty() ? first : fallback;
}

CheckedTimestamp failed(CheckedTimestamp stamp, std::string problem)
{
    stamp.details.problem = std::move(problem);
    return stamp;
}

CheckedTimestamp verifiedAt(CheckedTimestamp stamp, const ASN1_TIME* time, time_t when)
{
    stamp.details.verified = true;
    stamp.details.time = utcText(time);
    stamp.when = when;
    return stamp;
}

// An RFC 3161 token: libcrypto checks its signature (and the signing
// certificate it names), its chain for time stamping at its own time, and
// that its imprint is the hash of the signer's signature value.
CheckedTimestamp rfc3161Stamp(const ASN1_STRING* der, PKCS7_SIGNER_INFO* signer, X509_STORE* anchors)
{
    CheckedTimestamp stamp;
    stamp.details.kind = kRfc3161;
    const unsigned char* at = der->data;
    OwnedPkcs7 token(d2i_PKCS7(nullptr, &at, der->length));
    if (!token || at != der->data + der->length || !PKCS7_type_is_signed(token.get()))
        return failed(stamp, "the token is no PKCS#7 SignedData that parses");
    OwnedTimestampInfo info(PKCS7_to_TS_TST_INFO(token.get()));
    if (!info)
        return failed(stamp, "the token holds no TSTInfo");
    STACK_OF(X509)* named = PKCS7_get0_signers(token.get(), nullptr, 0);
    if (sk_X509_num(named) == 1)
        stamp.details.authority = subjectText(sk_X509_value(named, 0));
    sk_X509_free(named);
    const ASN1_GENERALIZEDTIME* time = TS_TST_INFO_get_time(info.get());
    time_t when = 0;
    if (!timeOf(time, when))
        return failed(stamp, "its time does not parse");

    OwnedTimestampVerify context(TS_VERIFY_CTX_new());
    BIO* stamped = BIO_new_mem_buf(signer->enc_digest->data, signer->enc_digest->length);
    if (!context || stamped == nullptr || X509_STORE_up_ref(anchors) != 1) {
        BIO_free(stamped);
        return failed(stamp, "out of memory");
    }
    // The context owns both from here.
    TS_VERIFY_CTX_set_store(context.get(), anchors);
    TS_VERIFY_CTX_set_data(context.get(), stamped);
    TS_VERIFY_CTX_set_flags(context.get(), TS_VFY_VERSION | TS_VFY_SIGNATURE | TS_VFY_DATA);
    ERR_clear_error();
    StoreTime checkedAt(anchors, when);
    if (TS_RESP_verify_token(context.get(), token.get()) != 1)
        return failed(stamp, failureReason("the token does not verify"));
    return verifiedAt(stamp, time, when);
}

// An Authenticode countersignature: a signer info over the signer's
// signature value, its certificate among the signature's own.
CheckedTimestamp counterStamp(const ASN1_STRING* der, PKCS7* signedData, PKCS7_SIGNER_INFO* signer,
                              X509_STORE* anchors)
{
    CheckedTimestamp stamp;
    stamp.details.kind = kCountersignature;
    const unsigned char* at = der->data;
    OwnedSignerInfo counter(d2i_PKCS7_SIGNER_INFO(nullptr, &at, der->length));
    if (!counter || at != der->data + der->length)
        return failed(stamp, "the countersignature does not parse");
    STACK_OF(X509)* carried = signedData->d.sign->cert;
    X509* authority = X509_find_by_issuer_and_serial(carried, counter->issuer_and_serial->issuer,
                                                     counter->issuer_and_serial->serial);
    if (authority == nullptr)
        return failed(stamp, "its signer's certificate is not in the signature");
    stamp.details.authority = subjectText(authority);
    ASN1_TYPE* signingTime = PKCS7_get_signed_attribute(counter.get(), NID_pkcs9_signingTime);
    time_t when = 0;
    if (signingTime == nullptr ||
        (signingTime->type != V_ASN1_UTCTIME && signingTime->type != V_ASN1_GENERALIZEDTIME) ||
        !timeOf(signingTime->value.utctime, when))
        return failed(stamp, "it carries no signing time");
    const EVP_MD* digest = knownDigest(counter->digest_alg->algorithm);
    if (digest == nullptr)
        return failed(stamp, "it names an unknown digest algorithm " + objectText(counter->digest_alg->algorithm));

    // The digest of the signer's signature value, through the BIO that
    // PKCS7_signatureVerify compares the countersigner's messageDigest with.
    OwnedBio hashed(BIO_new(BIO_f_md()));
    BIO* value = BIO_new_mem_buf(signer->enc_digest->data, signer->enc_digest->length);
    if (!hashed || value == nullptr || BIO_set_md(hashed.get(), digest) != 1) {
        BIO_free(value);
        return failed(stamp, "out of memory");
    }
    BIO_push(hashed.get(), value);
    char sink[256];
    while (BIO_read(hashed.get(), sink, sizeof sink) > 0) {
    }
    ERR_clear_error();
    if (PKCS7_signatureVerify(hashed.get(), signedData, counter.get(), authority) != 1)
        return failed(stamp, "its signature does not verify over the signer's signature value (" +
                                 failureReason("signature failure") + ")");
    const ChainVerdict chain = verifyChain(authority, carried, anchors, &when, X509_PURPOSE_TIMESTAMP_SIGN);
    if (chain.error != X509_V_OK)
        return failed(stamp, chain.validity.empty()
                                 ? std::string("its certificate chain for time stamping: ") +
                                       X509_verify_cert_error_string(chain.error)
                                 : chain.validity);
    return verifiedAt(stamp, signingTime->value.utctime, when);
}

} // namespace

CheckedTimestamp checkTimestamp(PKCS7* signedData, PKCS7_SIGNER_INFO* signer, X509_STORE* anchors)
{
    OwnedObject tokenOid(OBJ_txt2obj(kRfc3161Token, 1));
    // Every timestamp value the signer carries: exactly one may count, so a
    // second one can never be the one shown while another was checked.
    const ASN1_STRING* found = nullptr;
    bool isToken = false;
    int count = 0;
    STACK_OF(X509_ATTRIBUTE)* attributes = PKCS7_get_attributes(signer);
    for (int i = 0; tokenOid && i < sk_X509_ATTRIBUTE_num(attributes); ++i) {
        X509_ATTRIBUTE* attribute = sk_X509_ATTRIBUTE_value(attributes, i);
        const ASN1_OBJECT* oid = X509_ATTRIBUTE_get0_object(attribute);
        const bool token = OBJ_cmp(oid, tokenOid.get()) == 0;
        if (!token && OBJ_obj2nid(oid) != NID_pkcs9_countersignature)
            continue;
        for (int v = 0; v < X509_ATTRIBUTE_count(attribute); ++v, ++count) {
            const ASN1_TYPE* value = X509_ATTRIBUTE_get0_type(attribute, v);
            found = value != nullptr && value->type == V_ASN1_SEQUENCE ? value->value.sequence : nullptr;
            isToken = token;
        }
    }
    CheckedTimestamp stamp;
    if (count == 0)
        return stamp;
    if (count > 1) {
        stamp.details.kind = "several timestamps";
        return failed(stamp, "the signer carries " + std::to_string(count) + " timestamps; one is expected");
    }
    if (found == nullptr) {
        stamp.details.kind = isToken ? kRfc3161 : kCountersignature;
        return failed(stamp, "the timestamp attribute holds no SEQUENCE");
    }
    return isToken ? rfc3161Stamp(found, signer, anchors) : counterStamp(found, signedData, signer, anchors);
}
