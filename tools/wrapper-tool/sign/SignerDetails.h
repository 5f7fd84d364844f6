#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Who signed an installer, read from its certificate table (the PKCS#7
// SignedData behind the WIN_CERTIFICATE header). Reading it checks nothing:
// whether the signature holds is SignatureCheck's matter.
struct SignerDetails {
    std::string subject;       // "/CN=..."
    std::string sha1;          // thumbprints of the signer's certificate, uppercase hex
    std::string sha256;
    std::string signingTime;   // the signer's own claim, may be empty
    std::string timestamp;     // from a countersignature or an RFC 3161 token; empty if none
    std::vector<std::vector<uint8_t>> certificates; // every certificate carried, DER
    // The self-issued ones among them (roots), or all when none is: taken
    // as trust anchors, they leave every other certificate's signature,
    // the signer's included, to be checked.
    std::vector<std::vector<uint8_t>> anchors;
};

// False when the table holds no readable signature.
bool readSignerDetails(const uint8_t* table, size_t size, SignerDetails& details);

// The certificates as PEM text, for a checker that takes trust anchors so.
std::string certificatesPem(const std::vector<std::vector<uint8_t>>& certificates);
