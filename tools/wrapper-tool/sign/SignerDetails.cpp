#include "sign/SignerDetails.h"

#include <cctype>
#include <cstring>

#include "inspect/Sha1.h"
#include "inspect/Sha256.h"
#include "sign/Der.h"

using namespace der;

namespace {

const uint8_t kSigningTime[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x05};
const uint8_t kCountersignature[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x06};
const uint8_t kTimestampToken[] = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x03, 0x03, 0x01};

std::string upper(std::string hex)
{
    for (char& c : hex)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return hex;
}

bool sameBytes(const DerElement& a, const DerElement& b)
{
    return a.valid() && b.valid() && a.encodingSize == b.encodingSize &&
           std::memcmp(a.encoding, b.encoding, a.encodingSize) == 0;
}

// The first value of the attribute `oid` in an attribute set, or invalid.
DerElement attributeValue(const DerElement& attributes, const uint8_t* oid, size_t size)
{
    DerReader reader(attributes);
    for (DerElement attribute = reader.next(); attribute.is(kSequence); attribute = reader.next()) {
        DerReader fields(attribute);
        if (isOid(fields.next(), oid, size)) {
            DerElement values = fields.next();
            return values.is(kSet) ? DerReader(values).next() : DerElement();
        }
    }
    return DerElement();
}

struct SignerInfo {
    DerElement issuer, serial, authenticated, unauthenticated;
};

bool readSignerInfo(const DerElement& element, SignerInfo& info)
{
    DerReader fields(element);
    fields.next(); // version
    DerReader id(fields.next());
    info.issuer = id.next();
    info.serial = id.next();
    fields.next(); // digest algorithm
    info.authenticated = fields.optional(kContext0);
    fields.next(); // signature algorithm
    fields.next(); // the signature value
    info.unauthenticated = fields.optional(kContext1);
    return info.issuer.is(kSequence) && info.serial.is(kInteger);
}

// SignedData inside a ContentInfo: its fields reader, after the version.
bool openSignedData(const DerElement& contentInfo, DerReader& signedData)
{
    DerReader outer(contentInfo);
    outer.next(); // content type
    DerElement explicitContent = outer.next();
    if (!explicitContent.is(kContext0))
        return false;
    DerElement data = DerReader(explicitContent).next();
    if (!data.is(kSequence))
        return false;
    signedData = DerReader(data);
    signedData.next(); // version
    signedData.next(); // digest algorithms
    return true;
}

// The time an RFC 3161 token vouches for: TSTInfo's genTime.
std::string tokenTime(const DerElement& token)
{
    DerReader signedData(nullptr, 0);
    if (!openSignedData(token, signedData))
        return std::string();
    DerReader encapsulated(signedData.next());
    encapsulated.next(); // id-ct-TSTInfo
    DerElement wrapped = encapsulated.next();
    DerElement octets = wrapped.is(kContext0) ? DerReader(wrapped).next() : DerElement();
    DerElement info = octets.is(kOctetString) ? DerReader(octets).next() : DerElement();
    DerReader fields(info);
    for (int skip = 0; skip < 4; ++skip) // version, policy, message imprint, serial number
        fields.next();
    return timeText(fields.next());
}

std::string timestampOf(const SignerInfo& signer)
{
    if (!signer.unauthenticated.valid())
        return std::string();
    DerElement counter = attributeValue(signer.unauthenticated, kCountersignature, sizeof kCountersignature);
    SignerInfo counterInfo;
    if (counter.is(kSequence) && readSignerInfo(counter, counterInfo) && counterInfo.authenticated.valid())
        return timeText(attributeValue(counterInfo.authenticated, kSigningTime, sizeof kSigningTime));
    DerElement token = attributeValue(signer.unauthenticated, kTimestampToken, sizeof kTimestampToken);
    return token.is(kSequence) ? tokenTime(token) : std::string();
}

} // namespace

bool readSignerDetails(const uint8_t* table, size_t size, SignerDetails& details)
{
    details = SignerDetails();
    if (size < 8)
        return false;
    DerElement contentInfo = DerReader(table + 8, size - 8).next();
    DerReader signedData(nullptr, 0);
    if (!contentInfo.is(kSequence) || !openSignedData(contentInfo, signedData))
        return false;
    signedData.next(); // the signed content (SpcIndirectDataContent)
    DerElement certificates = signedData.optional(kContext0);
    signedData.optional(kContext1); // CRLs
    DerElement signerInfos = signedData.next();
    SignerInfo signer;
    if (!signerInfos.is(kSet) || !readSignerInfo(DerReader(signerInfos).next(), signer))
        return false;

    DerReader certs(certificates);
    for (DerElement cert = certs.next(); cert.is(kSequence); cert = certs.next()) {
        details.certificates.emplace_back(cert.encoding, cert.encoding + cert.encodingSize);
        DerReader tbs(DerReader(cert).next());
        tbs.optional(kContext0); // version
        DerElement serial = tbs.next();
        tbs.next(); // signature algorithm
        DerElement issuer = tbs.next();
        tbs.next(); // validity
        DerElement subject = tbs.next();
        if (sameBytes(issuer, subject))
            details.anchors.push_back(details.certificates.back());
        if (!sameBytes(serial, signer.serial) || !sameBytes(issuer, signer.issuer))
            continue;
        details.subject = nameText(subject);
        Sha1 sha1;
        sha1.update(cert.encoding, cert.encodingSize);
        details.sha1 = upper(sha1.hexDigest());
        Sha256 sha256;
        sha256.update(cert.encoding, cert.encodingSize);
        details.sha256 = upper(sha256.hexDigest());
    }
    if (details.anchors.empty())
        details.anchors = details.certificates;
    if (signer.authenticated.valid())
        details.signingTime = timeText(attributeValue(signer.authenticated, kSigningTime, sizeof kSigningTime));
    details.timestamp = timestampOf(signer);
    return !details.sha1.empty();
}

std::string certificatesPem(const std::vector<std::vector<uint8_t>>& certificates)
{
    static const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string pem;
    for (const std::vector<uint8_t>& der : certificates) {
        std::string text;
        for (size_t i = 0; i < der.size(); i += 3) {
            const uint32_t n = uint32_t(der[i]) << 16 | (i + 1 < der.size() ? uint32_t(der[i + 1]) << 8 : 0) |
                               (i + 2 < der.size() ? der[i + 2] : 0);
            text += kBase64[n >> 18 & 63];
            text += kBase64[n >> 12 & 63];
            text += i + 1 < der.size() ? kBase64[n >> 6 & 63] : '=';
            text += i + 2 < der.size() ? kBase64[n & 63] : '=';
        }
        pem += "-----BEGIN CERTIFICATE-----\n";
        for (size_t i = 0; i < text.size(); i += 64)
            pem += text.substr(i, 64) + "\n";
        pem += "-----END CERTIFICATE-----\n";
    }
    return pem;
}
