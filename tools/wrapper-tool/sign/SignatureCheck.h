#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "sign/SignerDetails.h"

// What can be said about an installer's Authenticode signature.
enum class SignatureState {
    None,       // no certificate table
    Valid,      // intact, and its signer chains to a trusted certificate
    Untrusted,  // intact, but its signer is not trusted here
    Invalid,    // fails its own check: the file changed after signing, or the signature is broken
    NotChecked, // a certificate table is there, but no checker could be run
};

const char* signatureStateText(SignatureState state);

struct SignatureReport {
    SignatureState state = SignatureState::None;
    std::string detail; // the checker's reason when it is not Valid
    bool signerKnown = false;
    SignerDetails signer;
};

// Checks the signature of `path`, whose certificate table is `table` (null
// when unsigned), with osslsigncode's verify (WinVerifyTrust on Windows).
// `trustedCertificates` (PEM, may be empty) adds trust anchors, such as a
// test certificate.
SignatureReport checkSignature(const std::string& path, const uint8_t* table, size_t tableSize,
                               const std::string& trustedCertificates);

// Whether the --ca file the user named can be read; `error` says why not.
bool trustFileReadable(const std::string& path, std::string& error);

// Why `report` fails verify, or empty. A broken signature always fails;
// when `strict` (--ca or --require-signature given) so does a signer that
// is not trusted or could not be checked, and with `required` a missing one.
std::string signatureProblem(const SignatureReport& report, bool strict, bool required);
