#pragma once
#include <string>
#include <vector>

// What `sign` was asked to do, as given on its command line.
struct SignRequest {
    std::string installer;
    std::string out;
    std::string pkcs12;
    std::string passwordEnv;
    std::string cert;
    std::string key;
    std::string thumbprint; // SHA-1 of a certificate in the Windows store
    std::string timestamp;
    std::string ca;         // --ca, empty when not given
};

// The program that signs: osslsigncode, or signtool on Windows.
enum class Signer { Osslsigncode, Signtool };

const char* signerName(Signer signer);

// Why these options cannot be carried out by `signer`, or empty. signtool
// would only take a password on its command line, so there the key must
// come from the certificate store or an unprotected PKCS#12 file.
std::string signOptionsProblem(const SignRequest& request, Signer signer);

// The signer's command line, signing `input` into `target` (signtool signs
// `target` in place). With `passwordOnInput`, osslsigncode reads the
// PKCS#12 password from its standard input.
std::vector<std::string> signerCommand(const SignRequest& request, Signer signer, bool passwordOnInput,
                                       const std::string& input, const std::string& target);

// The signer's own reason for a failure, from what it printed: its first
// line that says something, without OpenSSL's error-queue lines.
std::string signerReason(const std::string& output);
