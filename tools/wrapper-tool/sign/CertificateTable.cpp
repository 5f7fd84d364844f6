#include "sign/CertificateTable.h"

#include <vector>

#include "PeImage.h"

namespace {

const uint16_t kRevision2 = 0x0200;
const uint16_t kPkcsSignedData = 0x0002;
const uint32_t kHeaderSize = 8; // dwLength, wRevision, wCertificateType

uint32_t little32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The length of the DER element at `der` (its header included), read from
// its header alone: a SEQUENCE with a definite length of at most four
// bytes, as DER has it. Zero when it is not one.
uint64_t sequenceLength(const uint8_t* der, uint32_t available)
{
    if (available < 2 || der[0] != 0x30)
        return 0;
    if (der[1] < 0x80)
        return 2u + der[1];
    const uint32_t count = der[1] & 0x7Fu;
    if (count == 0 || count > 4 || available < 2 + count)
        return 0; // indefinite, or longer than any table
    uint64_t length = 0;
    for (uint32_t i = 0; i < count; ++i)
        length = length << 8 | der[2 + i];
    return 2 + count + length;
}

// Whether `length` bytes at `offset` are all zero.
bool zeroBytes(ZipByteSource& file, uint64_t offset, uint32_t length)
{
    if (length == 0)
        return true;
    std::vector<uint8_t> scratch;
    const uint8_t* bytes = readSourceBytes(file, offset, length, scratch);
    if (bytes == nullptr)
        return false;
    for (uint32_t i = 0; i < length; ++i)
        if (bytes[i] != 0)
            return false;
    return true;
}

std::string check(ZipByteSource& file, CertificateTable& table)
{
    const uint64_t fileSize = file.size();
    if (table.offset > fileSize || table.size > fileSize - table.offset)
        return "the certificate table runs past the end of the file";
    if (table.offset + table.size != fileSize)
        return std::to_string(fileSize - table.offset - table.size) +
               " bytes follow the certificate table, outside the signature";
    if (table.size < 2 * kHeaderSize)
        return "the certificate table is too short to hold a signature";
    std::vector<uint8_t> scratch;
    const uint8_t* header = readSourceBytes(file, table.offset, kHeaderSize + 6, scratch);
    if (header == nullptr)
        return "the certificate table cannot be read";
    const uint32_t length = little32(header);
    const uint16_t revision = uint16_t(header[4] | header[5] << 8);
    const uint16_t type = uint16_t(header[6] | header[7] << 8);
    if (revision != kRevision2)
        return "the certificate table's revision is not 2.0 (WIN_CERT_REVISION_2_0)";
    if (type != kPkcsSignedData)
        return "the certificate table holds no PKCS#7 signature (WIN_CERT_TYPE_PKCS_SIGNED_DATA)";
    if (length < kHeaderSize || length > table.size)
        return "the certificate's length does not fit its table";
    const uint64_t der = sequenceLength(header + kHeaderSize, 6);
    if (der == 0 || der > length - kHeaderSize)
        return "the certificate holds no DER SignedData that fits its length";
    // What follows the PKCS#7 may only be zeros up to the next multiple of 8.
    const uint64_t used = kHeaderSize + der;
    const uint64_t padded = (used + 7) & ~uint64_t(7);
    if (table.size > padded)
        return std::to_string(table.size - used) +
               " bytes follow the signature inside the certificate table, more than its padding";
    if (!zeroBytes(file, table.offset + used, uint32_t(table.size - used)))
        return "the certificate table's padding after the signature is not zero";
    table.pkcs7Offset = table.offset + kHeaderSize;
    table.pkcs7Size = uint32_t(der);
    return std::string();
}

} // namespace

CertificateTable readCertificateTable(ZipByteSource& file)
{
    CertificateTable table;
    table.present = findCertificateTable(file, table.offset, table.size);
    if (table.present)
        table.problem = check(file, table);
    return table;
}
