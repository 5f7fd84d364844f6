#pragma once
#include <cstdint>
#include <string>

#include "ZipByteSource.h"

// The one WIN_CERTIFICATE an Authenticode-signed file ends with, checked
// strictly before any signature check looks at it: revision 2.0, type
// PKCS_SIGNED_DATA, lengths that fit, the table at the very end of the file,
// and nothing after the PKCS#7 but zero padding to 8 bytes. Anything else
// would be bytes no signature covers.
struct CertificateTable {
    bool present = false;      // the PE header declares a table
    std::string problem;       // why the table is refused; empty when it is sound
    uint64_t offset = 0;       // where the table starts (the end of the signed bytes)
    uint64_t size = 0;
    uint64_t pkcs7Offset = 0;  // the DER SignedData inside it
    uint32_t pkcs7Size = 0;

    bool sound() const { return present && problem.empty(); }
};

// Reads the table `file`'s PE header declares. Not a PE file, or no table:
// not present.
CertificateTable readCertificateTable(ZipByteSource& file);
