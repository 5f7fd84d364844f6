#pragma once
#include <string>

#include <openssl/x509.h>

#include "sign/OpenSslOwners.h"
#include "sign/SignatureCheck.h"

// The trust anchors: the certificates of `caFile` (PEM) when given, else the
// system's store (/etc/ssl/certs). When they cannot be loaded, an empty
// store and the reason in `error`; null only when memory runs out. Nothing is fetched: no CRL, no OCSP, no issuer from a URL.
OwnedStore loadAnchors(const std::string& caFile, std::string& error);

// Whether `signer` (whose signature has verified) chains, through the
// certificates the signature carries, to an anchor for code signing:
// Valid; Untrusted when the chain only ends elsewhere or the signer is
// refused for other reasons of policy (expired, not for code signing);
// Invalid when a certificate in it does not check out.
SignatureState checkTrust(X509* signer, STACK_OF(X509) * carried, X509_STORE* anchors, std::string& detail);
