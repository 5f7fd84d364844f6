#pragma once
#include <string>

// The timestamp a signature carries, as its checker judged it. Its time is
// given only when it verified: then it is the time the signer's chain is
// checked at, else that is now.
struct TimestampDetails {
    std::string kind;      // "RFC 3161" or "Authenticode countersignature"; empty when there is none
    std::string authority; // the subject of the certificate it names as its signer, may be empty
    bool verified = false;
    std::string time;      // "YYYY-MM-DD hh:mm:ss UTC", only when verified
    std::string problem;   // why it did not verify

    bool present() const { return !kind.empty(); }
};

// Who signed an installer: the certificate the signature verified with, as
// the checker that verified it reports it.
struct SignerDetails {
    std::string subject;       // "/CN=..."
    std::string sha1;          // thumbprints of the signer's certificate, uppercase hex
    std::string sha256;
    std::string signingTime;   // the signer's own claim, may be empty
    TimestampDetails timestamp;
};

#ifndef _WIN32
#include <openssl/asn1.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

// The details of `certificate`, the one `signer`'s signature verified with,
// read by libcrypto. The signing time is the signer's claim; the timestamp
// is left to checkTimestamp.
SignerDetails describeSigner(X509* certificate, PKCS7_SIGNER_INFO* signer);

// `time` as "YYYY-MM-DD hh:mm:ss UTC", or empty when it does not parse.
std::string utcText(const ASN1_TIME* time);

// The subject of `certificate` as "/CN=.../O=...".
std::string subjectText(X509* certificate);
#endif
