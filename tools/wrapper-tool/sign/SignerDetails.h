#pragma once
#include <string>

// Who signed an installer: the certificate the signature verified with, as
// the checker that verified it reports it.
struct SignerDetails {
    std::string subject;       // "/CN=..."
    std::string sha1;          // thumbprints of the signer's certificate, uppercase hex
    std::string sha256;
    std::string signingTime;   // the signer's own claim, may be empty
    std::string timestamp;     // from a countersignature or an RFC 3161 token; empty if none
};

#ifndef _WIN32
struct x509_st;
struct pkcs7_signer_info_st;

// The details of `certificate`, the one `signer`'s signature verified with,
// read by libcrypto. The times are what the signature carries; they are not
// checked here.
SignerDetails describeSigner(x509_st* certificate, pkcs7_signer_info_st* signer);
#endif
