#pragma once
#include <string>

// What `verify` can say about an installer's Authenticode signature.
enum class SignatureState {
    None,       // no certificate table
    Valid,      // the checker accepted it
    Invalid,    // the checker rejected it: tampered file, untrusted or broken signature
    NotChecked, // a certificate table is there, but no checker could be run
};

const char* signatureStateText(SignatureState state);

// Checks the signature of `path` with osslsigncode's verify (WinVerifyTrust on
// Windows). `trustedCertificates` (PEM, may be empty) adds trust anchors,
// such as a test certificate. `detail` gets the checker's reason on failure;
// `altered` tells an invalid signature whose signed digest no longer matches
// the file (changed after signing) from one whose signer is not trusted here.
SignatureState checkSignature(const std::string& path, bool hasCertificateTable,
                              const std::string& trustedCertificates, std::string& detail, bool& altered);
