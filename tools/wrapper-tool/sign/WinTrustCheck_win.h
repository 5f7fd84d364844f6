#pragma once
#include <string>

#include "sign/SignatureCheck.h"

// The installer's primary Authenticode signature as WinVerifyTrust sees it:
// no revocation check, no URL fetched (cache only), no UI. The signer shown
// is the certificate WinVerifyTrust verified the signature with, taken from
// the same check's state, never read from the file a second time; the file
// is held open against writers meanwhile. With `trustedCertificates` (a PEM
// file, --ca) the signer is valid only when its chain ends in one of them.
//   valid      digest, signature and chain to a trusted root all check
//   untrusted  digest and signature check, the chain ends elsewhere
//   invalid    anything else about the signature
// Call only for a file that carries a certificate table.
SignatureReport winTrustCheck(const std::string& path, const std::string& trustedCertificates);
