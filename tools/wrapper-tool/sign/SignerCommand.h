#pragma once
#include <string>
#include <vector>

// What `sign` was asked to do, as given on its command line.
struct SignRequest {
    std::string installer;
    std::string out;
    std::string pkcs12;
    std::string passwordEnv;
    std::string cert;         // a PEM file, or with a token a pkcs11: URI too
    std::string key;          // a PEM file, or with a token its pkcs11: URI
    std::string pkcs11Module; // the token's PKCS#11 library; the key never leaves the token
    std::string pinEnv;       // the variable holding the token's PIN; else it is asked for
    std::string thumbprint; // SHA-1 of a certificate in the Windows store
    std::string timestamp;
    std::string ca;         // --ca, empty when not given
    bool json = false;
    bool quiet = false;
};

// Whether `text` names an object in a token ("pkcs11:...").
bool isPkcs11Uri(const std::string& text);

// The program that signs: osslsigncode, or signtool on Windows.
enum class Signer { Osslsigncode, Signtool };

const char* signerName(Signer signer);

// Why these options cannot be carried out by `signer`, or empty. signtool
// would only take a password on its command line, so there the key must
// come from the certificate store (a token's too, through its minidriver)
// or an unprotected PKCS#12 file.
std::string signOptionsProblem(const SignRequest& request, Signer signer);

// The signer's command line, signing `input` into `target` (signtool signs
// `target` in place). With `secretOnInput`, osslsigncode reads the PKCS#12
// password or the token's PIN from its standard input.
std::vector<std::string> signerCommand(const SignRequest& request, Signer signer, bool secretOnInput,
                                       const std::string& input, const std::string& target);

// The signer's own reason for a failure, from what it printed: a token that
// refused the PIN said so, else its first line that says something, without
// OpenSSL's error-queue lines.
std::string signerReason(const std::string& output);
