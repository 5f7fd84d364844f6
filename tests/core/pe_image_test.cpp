#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "PeImage.h"

namespace {

void put32(std::vector<uint8_t>& image, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        image[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// A minimal executable header of `size` bytes: MZ, the PE signature at 0x80,
// an optional header of the given kind with 16 directories, and a
// certificate table at [certOffset, certOffset + certSize).
std::vector<uint8_t> image(uint32_t size, bool pe32Plus, uint32_t certOffset, uint32_t certSize)
{
    std::vector<uint8_t> data(size, 0);
    data[0] = 'M';
    data[1] = 'Z';
    put32(data, 0x3C, 0x80);
    put32(data, 0x80, 0x00004550);
    const size_t optional = 0x80 + 24;
    data[optional] = 0x0B;
    data[optional + 1] = pe32Plus ? 0x02 : 0x01;
    const size_t count = optional + (pe32Plus ? 108 : 92);
    put32(data, count, 16);
    const size_t security = count + 4 + 8 * 4;
    put32(data, security, certOffset);
    put32(data, security + 4, certSize);
    return data;
}

TEST(PayloadSearchSize, StopsAtTheCertificateTable)
{
    const uint32_t size = 70000;
    struct Case {
        const char* what;
        uint32_t certOffset, certSize;
    } cases[] = {
        // Signatures of any size, larger than the reader's 16 KiB window too.
        {"small table ending the file", size - 8, 8},
        {"table ending the file", size - 4096, 4096},
        {"large table ending the file", size - 40000, 40000},
        // Bytes after the table are outside the signature: never searched.
        {"table followed by appended data", 30000, 100},
        {"table running past the end", 60000, 20000},
    };
    for (bool pe32Plus : {false, true}) {
        for (const Case& c : cases) {
            auto data = image(size, pe32Plus, c.certOffset, c.certSize);
            EXPECT_EQ(payloadSearchSize(data.data(), data.size()), c.certOffset)
                << pe32Plus << " " << c.what;
            uint64_t offset = 0, tableSize = 0;
            ASSERT_TRUE(findCertificateTable(data.data(), data.size(), offset, tableSize)) << c.what;
            EXPECT_EQ(c.certSize, tableSize) << c.what;
        }
    }
}

TEST(PayloadSearchSize, SearchesTheWholeFileOtherwise)
{
    const uint32_t size = 4096;
    struct Case {
        const char* what;
        std::vector<uint8_t> data;
    };
    std::vector<Case> cases = {
        {"unsigned", image(size, false, 0, 0)},
        {"empty table at the end", image(size, false, size, 0)},
        {"table declared past the end", image(size, false, size + 8, 100)},
    };
    auto noMz = image(size, false, 3000, size - 3000);
    noMz[0] = 'X';
    cases.push_back({"no MZ", noMz});
    auto noPe = image(size, false, 3000, size - 3000);
    noPe[0x80] = 'X';
    cases.push_back({"no PE signature", noPe});
    auto fewDirectories = image(size, false, 3000, size - 3000);
    put32(fewDirectories, 0x80 + 24 + 92, 4);
    cases.push_back({"no security directory", fewDirectories});
    auto badMagic = image(size, false, 3000, size - 3000);
    badMagic[0x80 + 24 + 1] = 0x07;
    cases.push_back({"unknown optional header", badMagic});
    auto farHeader = image(size, false, 3000, size - 3000);
    put32(farHeader, 0x3C, 0xFFFFFFF0u);
    cases.push_back({"PE header offset past the end", farHeader});

    for (const Case& c : cases)
        EXPECT_EQ(payloadSearchSize(c.data.data(), c.data.size()), c.data.size()) << c.what;
}

TEST(PayloadSearchSize, ReadsNothingBeyondATruncatedHeader)
{
    auto data = image(4096, false, 3000, 1096);
    // Cut inside the optional header: the directory lies past the end.
    for (uint64_t size : {0ull, 2ull, 0x40ull, 0x84ull, 0x80ull + 24 + 2, 0x80ull + 24 + 100}) {
        std::vector<uint8_t> cut(data.begin(), data.begin() + size);
        EXPECT_EQ(payloadSearchSize(cut.data(), cut.size()), size) << size;
    }
    EXPECT_EQ(payloadSearchSize(nullptr, 100), 100u);
}

} // namespace
