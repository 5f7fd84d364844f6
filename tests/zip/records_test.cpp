// Parsing of the single records: end record, Zip64 end record, directory
// header (with its Zip64 block) and local header, and the entry predicates.
#include <gtest/gtest.h>

#include "TestZip.h"
#include "ZipEntryInfo.h"
#include "ZipRecords.h"

namespace {

std::string endRecordBytes(const std::string& comment)
{
    std::string r(22, '\0');
    put32(r, 0, 0x06054b50);
    put16(r, 10, 7);
    put32(r, 12, 1234);
    put32(r, 16, 5678);
    put16(r, 20, static_cast<uint16_t>(comment.size()));
    return r + comment;
}

// One directory header with the given fixed sizes/offset and extra field.
std::string centralHeader(uint32_t compressed, uint32_t uncompressed, uint32_t offset,
                          uint16_t disk, const std::string& extra)
{
    std::string h(46, '\0');
    put32(h, 0, 0x02014b50);
    put32(h, 20, compressed);
    put32(h, 24, uncompressed);
    put16(h, 28, 3);
    put16(h, 30, static_cast<uint16_t>(extra.size()));
    put16(h, 34, disk);
    put32(h, 42, offset);
    return h + "a/b" + extra;
}

std::string block(uint16_t id, const std::string& data)
{
    std::string b(4, '\0');
    put16(b, 0, id);
    put16(b, 2, static_cast<uint16_t>(data.size()));
    return b + data;
}

std::string u64s(std::initializer_list<uint64_t> values)
{
    std::string out;
    for (uint64_t v : values) {
        std::string eight(8, '\0');
        put64(eight, 0, v);
        out += eight;
    }
    return out;
}

} // namespace

TEST(EndRecord, ParsesFieldsAndComment)
{
    const std::string r = endRecordBytes("hello");
    ZipEndRecord rec;
    uint32_t length = 0;
    ASSERT_TRUE(rec.parse(bytes(r), r.size(), length));
    EXPECT_EQ(27u, length);
    EXPECT_EQ(7, rec.totalEntries);
    EXPECT_EQ(1234u, rec.centralDirectorySize);
    EXPECT_EQ(5678u, rec.centralDirectoryOffset);
    EXPECT_EQ("hello", rec.comment);
}

TEST(EndRecord, RefusesShortDataWrongSignatureAndLongComment)
{
    const std::string r = endRecordBytes("hello");
    ZipEndRecord rec;
    uint32_t length = 0;
    EXPECT_FALSE(rec.parse(bytes(r), 21, length));
    EXPECT_FALSE(rec.parse(bytes(r), 26, length)); // comment runs past the data
    std::string bad = r;
    bad[3] = 7;
    EXPECT_FALSE(rec.parse(bytes(bad), bad.size(), length));
}

TEST(Zip64EndRecord, RecordSizeBoundsTheExtensibleData)
{
    struct Case {
        uint64_t recordSize;
        size_t available;
        bool ok;
        uint32_t length;
    } cases[] = {
        {44, 56, true, 56},
        {54, 66, true, 66},          // 10 bytes of extensible data
        {54, 65, false, 0},          // one byte short
        {43, 200, false, 0},         // below the fixed part
        {0, 200, false, 0},
        {0xFFFFFFFFFFFFFFF0ull, 200, false, 0}, // would wrap
        {0x100000000ull + 44, 200, false, 0},   // low 32 bits look fine
    };
    for (const Case& c : cases) {
        std::string r(c.available, '\0');
        put32(r, 0, 0x06064b50);
        put64(r, 4, c.recordSize);
        put64(r, 32, 3);
        Zip64EndRecord rec;
        uint32_t length = 0;
        EXPECT_EQ(c.ok, rec.parse(bytes(r), r.size(), length)) << c.recordSize;
        if (c.ok) {
            EXPECT_EQ(c.length, length);
            EXPECT_EQ(3u, rec.totalEntries);
            EXPECT_EQ(c.recordSize - 44, rec.extensibleDataLength);
            EXPECT_EQ(rec.extensibleDataLength ? bytes(r) + 56 : nullptr, rec.extensibleData);
        }
    }
}

TEST(DirectoryHeader, Zip64SentinelsTakeValuesInOrder)
{
    const uint32_t S = 0xFFFFFFFFu;
    struct Case {
        const char* what;
        uint32_t compressed, uncompressed, offset;
        uint16_t disk;
        std::string data;
        uint64_t wantCompressed, wantUncompressed, wantOffset;
        uint16_t wantDisk;
    } cases[] = {
        {"both sizes", S, S, 10, 0, u64s({0x500000000ull, 0x300000000ull}), 0x300000000ull,
         0x500000000ull, 10, 0},
        {"compressed only", S, 77, 10, 0, u64s({0x300000000ull}), 0x300000000ull, 77, 10, 0},
        {"offset only", 5, 6, S, 0, u64s({0x123456789ull}), 5, 6, 0x123456789ull, 0},
        {"all four", S, S, S, 0xFFFF, u64s({1, 2, 3}) + std::string("\x09\x00\x01\x00", 4), 2,
         1, 3, 9},
        {"no sentinel ignores block", 5, 6, 7, 0, u64s({1, 2, 3}), 5, 6, 7, 0},
    };
    for (const Case& c : cases) {
        const std::string h =
            centralHeader(c.compressed, c.uncompressed, c.offset, c.disk, block(1, c.data));
        ZipEntryInfo e;
        uint32_t length = 0;
        ASSERT_TRUE(e.parse(bytes(h), h.size(), length)) << c.what;
        EXPECT_EQ(h.size(), length) << c.what;
        EXPECT_EQ(c.wantCompressed, e.compressedSize) << c.what;
        EXPECT_EQ(c.wantUncompressed, e.uncompressedSize) << c.what;
        EXPECT_EQ(c.wantOffset, e.localHeaderOffset) << c.what;
        EXPECT_EQ(c.wantDisk, e.diskNumberStart) << c.what;
    }
}

TEST(DirectoryHeader, OnlyTheFirstZip64BlockCountsAndOtherBlocksAreSkipped)
{
    const std::string extra = block(0x5455, "12345") + block(1, u64s({42})) + block(1, u64s({99}));
    const std::string h = centralHeader(0xFFFFFFFFu, 3, 0, 0, extra);
    ZipEntryInfo e;
    uint32_t length = 0;
    ASSERT_TRUE(e.parse(bytes(h), h.size(), length));
    EXPECT_EQ(42u, e.compressedSize);
    EXPECT_EQ("a/b", e.fileName);
    EXPECT_EQ(extra, e.extraField);
}

TEST(DirectoryHeader, DamagedExtraFieldsAreRefused)
{
    const uint32_t S = 0xFFFFFFFFu;
    struct Case {
        const char* what;
        uint32_t compressed;
        std::string extra;
        bool ok;
    } cases[] = {
        {"block overruns the extra field", 5, block(0x5455, "12345").substr(0, 7), false},
        {"zip64 block overruns", S, block(1, u64s({1})).substr(0, 10), false},
        {"zip64 block shorter than the sentinels need", S, block(1, "1234"), false},
        {"empty zip64 block with a sentinel", S, block(1, ""), false},
        {"tail shorter than a block header", 5, std::string("\0\0\0", 3), true},
    };
    for (const Case& c : cases) {
        const std::string h = centralHeader(c.compressed, 5, 0, 0, c.extra);
        ZipEntryInfo e;
        uint32_t length = 0;
        EXPECT_EQ(c.ok, e.parse(bytes(h), h.size(), length)) << c.what;
    }
}

TEST(DirectoryHeader, RefusesShortOrForeignData)
{
    const std::string h = centralHeader(1, 1, 0, 0, "");
    ZipEntryInfo e;
    uint32_t length = 0;
    EXPECT_FALSE(e.parse(bytes(h), 45, length));
    EXPECT_FALSE(e.parse(bytes(h), h.size() - 1, length)); // name runs past the end
    std::string bad = h;
    bad[2] = 3;
    EXPECT_FALSE(e.parse(bytes(bad), bad.size(), length));
}

TEST(LocalHeader, Zip64BlockSuppliesSizesAndBoundsAreChecked)
{
    std::string h(30, '\0');
    put32(h, 0, 0x04034b50);
    put16(h, 8, 8);
    put32(h, 18, 0xFFFFFFFFu);
    put32(h, 22, 0xFFFFFFFFu);
    const std::string extra = block(0x000A, "xxxx") + block(1, u64s({0x100000000ull, 77}));
    put16(h, 26, 4);
    put16(h, 28, static_cast<uint16_t>(extra.size()));
    h += "name" + extra;

    ZipLocalHeader local;
    uint32_t length = 0;
    ASSERT_TRUE(local.parse(bytes(h), h.size(), length));
    EXPECT_EQ(h.size(), length);
    EXPECT_EQ(0x100000000ull, local.uncompressedSize);
    EXPECT_EQ(77u, local.compressedSize);
    EXPECT_EQ("name", local.fileName);
    EXPECT_EQ(8, local.compressionMethod);

    EXPECT_FALSE(local.parse(bytes(h), 29, length));
    EXPECT_FALSE(local.parse(bytes(h), h.size() - 1, length));
    std::string shortBlock = h;
    put16(shortBlock, 30 + 4 + 8 + 2, 8); // the Zip64 block now holds one value
    EXPECT_FALSE(local.parse(bytes(shortBlock), shortBlock.size(), length));
}

TEST(EntryPredicates, DirectoryAndSymlinkTable)
{
    struct Case {
        const char* name;
        uint32_t attributes;
        bool directory, symlink;
    } cases[] = {
        {"dir/", 0, true, false},
        {"dir/", 0x81A40000u, true, false},      // trailing '/' wins over a file mode
        {"file.txt", 0x80, false, false},        // MS-DOS archive bit: a plain file
        {"file.txt", 0x10, true, false},         // MS-DOS directory attribute
        {"link", 0xA1FF0000u, false, true},      // Unix symlink mode
        {"dir", 0x41ED0000u, true, false},       // Unix directory mode
        {"file", 0x81A40000u, false, false},     // Unix regular file
        {"", 0, false, false},
        {"link/", 0xA1FF0000u, true, true},      // the predicates are independent
    };
    for (const Case& c : cases) {
        ZipEntryInfo e;
        e.fileName = c.name;
        e.externalAttributes = c.attributes;
        EXPECT_EQ(c.directory, e.isDirectory()) << c.name << " " << std::hex << c.attributes;
        EXPECT_EQ(c.symlink, e.isSymlink()) << c.name << " " << std::hex << c.attributes;
    }
}
