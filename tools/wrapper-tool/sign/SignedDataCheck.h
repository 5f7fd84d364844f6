#pragma once
#include <cstdint>

#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include "ZipByteSource.h"
#include "sign/SignatureCheck.h"

// Checks one Authenticode SignedData against the file it is in, whose
// signed bytes end at `tableOffset`: the image digest it signs against the
// file's, its signer's messageDigest and signature (libcrypto's
// PKCS7_verify), its timestamp, and the signer's chain to `anchors` at the
// timestamp's time when that verified, else now. The signer reported is
// the certificate the signature verified with. Nested signatures are not
// looked at here.
SignatureReport checkSignedData(PKCS7* signedData, ZipByteSource& file, uint64_t tableOffset, X509_STORE* anchors);
