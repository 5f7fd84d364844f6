#pragma once
#include <ctime>
#include <string>

#include <openssl/x509.h>

#include "sign/OpenSslOwners.h"
#include "sign/SignatureCheck.h"

// The trust anchors: the certificates of `caFile` (PEM) when given, else the
// system's store (/etc/ssl/certs). When they cannot be loaded, an empty
// store and the reason in `error`; null only when memory runs out. Nothing is fetched: no CRL, no OCSP, no issuer from a URL.
OwnedStore loadAnchors(const std::string& caFile, std::string& error);

// libcrypto's verdict on one chain: X509_V_OK or its error code, and, when
// a certificate was outside its validity, which one and its dates.
struct ChainVerdict {
    int error = X509_V_OK;
    std::string validity;
};

// Builds and checks the chain of `certificate` through `carried` to
// `anchors` for `purpose` (X509_PURPOSE_*), at the time `at` when given,
// else now. Nothing is fetched.
ChainVerdict verifyChain(X509* certificate, STACK_OF(X509) * carried, X509_STORE* anchors, const time_t* at,
                         int purpose);

// Whether `signer` (whose signature has verified) chains, through the
// certificates the signature carries, to an anchor for code signing, at the
// time `at` (a verified timestamp's) or, when null, now: Valid; Untrusted
// when the chain only ends elsewhere or the signer is not for code signing;
// Invalid when a certificate in it does not check out or was not valid at
// that time.
SignatureState checkTrust(X509* signer, STACK_OF(X509) * carried, X509_STORE* anchors, const time_t* at,
                          std::string& detail);

// `when` as "YYYY-MM-DD hh:mm:ss UTC".
std::string timeTextOf(time_t when);
