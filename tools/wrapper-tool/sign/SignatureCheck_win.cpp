// verify's signature check on Windows: the strict certificate table first,
// since WinVerifyTrust cannot be asked for it (the padding check is a
// machine-wide registry opt-in), then WinVerifyTrust.
#include "sign/SignatureCheck.h"

#include "sign/CertificateTable.h"
#include "sign/WinTrustCheck_win.h"

SignatureReport checkSignature(const std::string& path, ZipByteSource& image, const std::string& trustedCertificates)
{
    const CertificateTable table = readCertificateTable(image);
    if (!table.present)
        return SignatureReport();
    if (!table.sound())
        return invalidSignature(table.problem);
    return winTrustCheck(path, trustedCertificates);
}
