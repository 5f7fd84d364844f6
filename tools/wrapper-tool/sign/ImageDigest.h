#pragma once
#include <cstdint>
#include <vector>

#include <openssl/evp.h>

#include "ZipByteSource.h"

// The Authenticode digest of a PE file with `digest`: every byte before its
// certificate table at `tableOffset` (the appended payload included), but
// the checksum field and the certificate table's directory entry, which
// signing itself changes. Empty when the file cannot be read.
std::vector<uint8_t> imageDigest(ZipByteSource& file, uint64_t tableOffset, const EVP_MD* digest);
