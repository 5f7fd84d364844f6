// The strict certificate table check, on tables built byte by byte: every
// way a table can hold bytes no signature covers is refused, naming why.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "sign/CertificateTable.h"

namespace {

using Bytes = std::vector<uint8_t>;

const uint32_t kOptionalHeader = 0x40 + 24;
const uint32_t kSecurityEntry = kOptionalHeader + 96 + 4 * 8;
const uint32_t kImageSize = 0x200;

Bytes operator+(Bytes head, const Bytes& tail)
{
    for (uint8_t byte : tail)
        head.push_back(byte);
    return head;
}

void put32(Bytes& bytes, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = uint8_t(value >> (8 * i));
}

// WIN_CERTIFICATE: dwLength, wRevision, wCertificateType, then `body`.
Bytes certificate(const Bytes& body, uint32_t lengthDelta = 0, uint16_t revision = 0x0200, uint16_t type = 2)
{
    Bytes table(8);
    put32(table, 0, uint32_t(8 + body.size()) + lengthDelta);
    table[4] = uint8_t(revision);
    table[5] = uint8_t(revision >> 8);
    table[6] = uint8_t(type);
    table[7] = uint8_t(type >> 8);
    return table + body;
}

// A DER SEQUENCE of `size` content bytes, then `padding`.
Bytes sequence(uint8_t size, const Bytes& padding = {})
{
    Bytes der = {0x30, size};
    der.resize(2 + size, 0x5A);
    return der + padding;
}

// A bare PE32 header declaring `table` (`declared` bytes of it, when given)
// right after itself, then the table and `trailer`.
Bytes image(const Bytes& table, uint32_t declared = 0, const Bytes& trailer = {})
{
    Bytes file(kImageSize);
    file[0] = 'M';
    file[1] = 'Z';
    put32(file, 0x3C, 0x40);
    std::memcpy(&file[0x40], "PE\0\0", 4);
    file[kOptionalHeader] = 0x0B;
    file[kOptionalHeader + 1] = 0x01;
    put32(file, kOptionalHeader + 92, 16);
    put32(file, kSecurityEntry, kImageSize);
    put32(file, kSecurityEntry + 4, declared ? declared : uint32_t(table.size()));
    return file + table + trailer;
}

struct TableCase {
    const char* name;
    Bytes file;
    const char* problem; // a part of the reason, or null when the table is sound
};

TEST(CertificateTable, OnlyOnePkcs7AndZeroPaddingAtTheEndOfTheFile)
{
    const TableCase cases[] = {
        {"exact", image(certificate(sequence(14))), nullptr},
        {"zero padding to 8", image(certificate(sequence(11, {0, 0, 0}))), nullptr},
        {"padding outside dwLength", image(certificate(sequence(11)) + Bytes{0, 0, 0}), nullptr},
        {"no padding at all", image(certificate(sequence(11))), nullptr},
        {"padding not zero", image(certificate(sequence(11, {0, 7, 0}))), "padding after the signature is not zero"},
        {"data after the PKCS#7", image(certificate(sequence(14, Bytes(8, 0)))), "8 bytes follow the signature"},
        {"revision 1.0", image(certificate(sequence(14), 0, 0x0100)), "revision is not 2.0"},
        {"X.509 type", image(certificate(sequence(14), 0, 0x0200, 1)), "no PKCS#7 signature"},
        {"dwLength past the table", image(certificate(sequence(14), 8)), "length does not fit"},
        {"dwLength below its header", image(certificate(sequence(14), uint32_t(-20))), "length does not fit"},
        {"DER longer than dwLength", image(certificate(Bytes{0x30, 0x40} + Bytes(14, 1))), "no DER SignedData"},
        {"garbage for PKCS#7", image(certificate(Bytes(16, 0xA5))), "no DER SignedData"},
        {"indefinite length", image(certificate(Bytes{0x30, 0x80} + Bytes(14, 0))), "no DER SignedData"},
        {"too short", image(certificate({})), "too short"},
        {"declared past the end", image(certificate(sequence(14)), 64), "runs past the end of the file"},
        {"bytes after the table", image(certificate(sequence(14)), 0, Bytes(5, 0)),
         "5 bytes follow the certificate table"},
    };
    for (const TableCase& c : cases) {
        ZipMemorySource file(c.file.data(), c.file.size());
        const CertificateTable table = readCertificateTable(file);
        EXPECT_TRUE(table.present) << c.name;
        if (c.problem == nullptr) {
            EXPECT_EQ(table.problem, "") << c.name;
            EXPECT_EQ(table.pkcs7Offset, kImageSize + 8) << c.name;
        } else {
            EXPECT_NE(table.problem.find(c.problem), std::string::npos) << c.name << ": " << table.problem;
        }
    }
    const Bytes unsignedFile = image({});
    ZipMemorySource file(unsignedFile.data(), unsignedFile.size());
    EXPECT_FALSE(readCertificateTable(file).present);
}

} // namespace
