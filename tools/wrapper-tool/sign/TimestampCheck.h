#pragma once
#include <ctime>

#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include "sign/SignerDetails.h"

// A signer's timestamp, checked: its details, and when it verified, its
// time as the moment the signer's chain is to be checked at.
struct CheckedTimestamp {
    TimestampDetails details;
    time_t when = 0;
};

// Checks the timestamp in `signer`'s unsigned attributes (an RFC 3161 token
// or an Authenticode countersignature; `signedData` carries the latter's
// certificates). It counts only when its own signature verifies, what it
// stamps is the hash of `signer`'s signature value, and its signer chains
// to `anchors` for time stamping at the stamped time. Nothing is fetched.
CheckedTimestamp checkTimestamp(PKCS7* signedData, PKCS7_SIGNER_INFO* signer, X509_STORE* anchors);
