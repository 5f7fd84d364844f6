#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ZipByteSource.h"
#include "sign/SignerDetails.h"

// What can be said about an installer's Authenticode signature.
enum class SignatureState {
    None,      // no certificate table
    Valid,     // digest, signature and the signer's chain to a trusted certificate all check
    Untrusted, // digest and signature check, but the chain ends in no certificate trusted here
    Invalid,   // anything else about a table that is there: the file changed, a broken signature or table
};

const char* signatureStateText(SignatureState state);

struct SignatureReport {
    SignatureState state = SignatureState::None;
    std::string detail; // the checker's reason when it is not Valid
    bool signerKnown = false;
    SignerDetails signer;
    // Signatures nested in the primary one (dual signing), each with its own
    // verdict. They never vouch for the primary nor stand in for its signer.
    std::vector<SignatureReport> nested;
};

// An invalid signature, and why.
SignatureReport invalidSignature(std::string detail);

// The reason given, by either checker, for an image digest that is not the signed one.
extern const char kDigestMismatch[];

// Checks the Authenticode signature of the file `path`, read through
// `file`: in process with libcrypto, or with WinVerifyTrust on Windows. No
// revocation list or OCSP answer is fetched. `trustedCertificates` (a PEM
// file, may be empty) are then the only trust anchors, else the system's.
SignatureReport checkSignature(const std::string& path, ZipByteSource& file, const std::string& trustedCertificates);

// Whether the --ca file the user named can be read; `error` says why not.
bool trustFileReadable(const std::string& path, std::string& error);

// Why `report` fails verify, or empty. A broken signature always fails;
// when `required` (--require-signature or --ca given) so do a signer that
// is not trusted and a missing signature.
std::string signatureProblem(const SignatureReport& report, bool required);
