#pragma once
#include <string>
#include <vector>

#include <openssl/evp.h>
#include <openssl/pkcs7.h>

// What an Authenticode SignedData says it signs: its SpcIndirectDataContent,
// read by libcrypto's ASN.1 decoder.
struct IndirectData {
    std::string problem;           // why the content is not one; empty when it is
    const EVP_MD* digest = nullptr; // the image digest's algorithm
    std::vector<uint8_t> imageDigest;
    // The content's value, without its SEQUENCE header: what the signer's
    // messageDigest covers, by Authenticode's rule.
    const unsigned char* signedBytes = nullptr;
    long signedSize = 0;
};

// The digest `algorithm` names when it is one Authenticode signs with
// (SHA-1, SHA-2), else null: never one a file merely names.
const EVP_MD* knownDigest(const ASN1_OBJECT* algorithm);

// An object identifier as dotted text, for messages.
std::string objectText(const ASN1_OBJECT* object);

// Reads the content of `signedData` (of PKCS#7 type signed); the pointers
// stay valid while `signedData` lives.
IndirectData readIndirectData(PKCS7* signedData);
