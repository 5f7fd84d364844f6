// Finding the archive in an image: the search window, the end record, Zip64
// detection, the prefix and the central directory.
#include <gtest/gtest.h>

#include "TestZip.h"
#include "ZipReader.h"

namespace {

TestZip smallZip(size_t prefixSize)
{
    TestZip zip = zipWithPrefix(prefixSize);
    zip.entries.push_back({"a.txt", "alpha", 0});
    zip.entries.push_back({"dir/", "", 0});
    zip.entries.push_back({"dir/b.bin", patternBytes(3000, 1), 8});
    return zip;
}

// An image of exactly `imageSize` bytes ending in an empty archive's end record.
std::string emptyArchiveOfSize(size_t imageSize)
{
    std::string image(imageSize, '\0');
    const size_t at = imageSize - 22;
    put32(image, at, 0x06054b50);
    put32(image, at + 16, static_cast<uint32_t>(at)); // directory of size 0 right before it
    return image;
}

} // namespace

TEST(Open, ImageSizeAgainstTheSearchWindow)
{
    EXPECT_FALSE(ZipReader().open(bytes(emptyArchiveOfSize(16383)), 16383));
    const std::string ok = emptyArchiveOfSize(16384);
    ZipReader reader;
    ASSERT_TRUE(reader.open(bytes(ok), ok.size()));
    EXPECT_TRUE(reader.entries().empty());
    EXPECT_EQ(0u, reader.archiveOffset());
    EXPECT_FALSE(ZipReader().open(nullptr, 20000));
}

TEST(Open, EndRecordFillingTheLastBytesIsFoundAtWindowOffset16362)
{
    // The directory is read from the position the end record implies, so
    // finding the record at 16,362 is what makes the entry readable.
    TestZip zip = smallZip(0);
    TestLayout layout;
    std::string archive = zip.build(&layout);
    std::string image = std::string(16384 - archive.size(), '\0') + archive;
    ASSERT_EQ(16384u, image.size());
    ZipReader reader;
    ASSERT_TRUE(reader.open(bytes(image), image.size()));
    EXPECT_EQ(3u, reader.entries().size());
    EXPECT_EQ(16384 - archive.size(), reader.archiveOffset());
    EXPECT_EQ(3, reader.endRecord().totalEntries);
}

TEST(Open, TrailingDataAfterTheEndRecord)
{
    struct Case {
        size_t trailer;
        bool ok;
    } cases[] = {
        {3347, true},              // zero fill and a signature block
        {16384 - 22, true},        // the record starts at window offset 0
        {16384 - 21, false},       // the record starts before the window
    };
    for (const Case& c : cases) {
        TestZip zip = smallZip(20000);
        zip.trailer = std::string(c.trailer, '\x11');
        const std::string image = zip.build();
        ZipReader reader;
        EXPECT_EQ(c.ok, reader.open(bytes(image), image.size()).ok()) << c.trailer;
        if (c.ok) {
            EXPECT_EQ(20000u, reader.archiveOffset());
        }
    }
}

TEST(Open, OnlyTheMatchNearestTheEndIsTried)
{
    for (size_t strayAt : {1u, 10u, 17u}) {
        TestZip zip = smallZip(20000);
        zip.trailer = std::string(21, '\0');
        std::string image = zip.build();
        put32(image, image.size() - 21 + strayAt, 0x06054b50);
        EXPECT_FALSE(ZipReader().open(bytes(image), image.size())) << strayAt;
    }
}

TEST(Open, CommentIsKeptAndMustFit)
{
    TestZip zip = smallZip(20000);
    zip.comment = "built for tests";
    std::string image = zip.build();
    ZipReader reader;
    ASSERT_TRUE(reader.open(bytes(image), image.size()));
    EXPECT_EQ("built for tests", reader.endRecord().comment);

    put16(image, image.size() - zip.comment.size() - 2, 200);
    EXPECT_FALSE(ZipReader().open(bytes(image), image.size()));
}

TEST(Open, PrefixOf640000WithAFarDirectory)
{
    // One entry at archive offset 0, the directory at 62,740,044 with a
    // single 5,795-byte header.
    const size_t prefix = 640000, directoryOffset = 62740044, directorySize = 5795;
    std::string image(prefix + directoryOffset + directorySize + 22, '\0');
    const size_t local = prefix;
    put32(image, local, 0x04034b50);
    put32(image, local + 14, crcOf("xyz"));
    put32(image, local + 18, 3);
    put32(image, local + 22, 3);
    put16(image, local + 26, 1);
    image[local + 30] = 'n';
    image.replace(local + 31, 3, "xyz");

    const size_t central = prefix + directoryOffset;
    put32(image, central, 0x02014b50);
    put32(image, central + 16, crcOf("xyz"));
    put32(image, central + 20, 3);
    put32(image, central + 24, 3);
    put16(image, central + 28, static_cast<uint16_t>(directorySize - 46));
    image.replace(central + 46, directorySize - 46, std::string(directorySize - 46, 'n'));

    const size_t end = central + directorySize;
    put32(image, end, 0x06054b50);
    put16(image, end + 10, 1);
    put32(image, end + 12, directorySize);
    put32(image, end + 16, directoryOffset);

    ZipReader reader;
    ASSERT_TRUE(reader.open(bytes(image), image.size()));
    EXPECT_EQ(prefix, reader.archiveOffset());
    ASSERT_EQ(1u, reader.entries().size());
    RecordingSink sink;
    ASSERT_TRUE(reader.extract(0, sink));
    EXPECT_EQ("xyz", sink.data);
}

TEST(Open, OffsetsCountingFromTheImageStartGivePrefixZero)
{
    TestZip zip = smallZip(20000);
    zip.offsetsFromImageStart = true;
    const std::string image = zip.build();
    ZipReader reader;
    ASSERT_TRUE(reader.open(bytes(image), image.size()));
    EXPECT_EQ(0u, reader.archiveOffset());
    RecordingSink sink;
    ASSERT_TRUE(reader.extract(2, sink));
    EXPECT_EQ(patternBytes(3000, 1), sink.data);
}

TEST(Open, DirectoryOffsetsThatWouldPlaceTheArchiveBeforeTheImage)
{
    TestZip zip = smallZip(20000);
    TestLayout layout;
    const std::string good = zip.build(&layout);
    struct Case {
        const char* what;
        size_t field;
        uint32_t value;
    } cases[] = {
        {"offset past the directory", layout.endRecord + 16,
         static_cast<uint32_t>(layout.directory + 1)},
        {"offset far past", layout.endRecord + 16, 0xFFFFFFF0u},
        {"size larger than what precedes", layout.endRecord + 12,
         static_cast<uint32_t>(layout.endRecord + 1)},
    };
    for (const Case& c : cases) {
        std::string image = good;
        put32(image, c.field, c.value);
        EXPECT_FALSE(ZipReader().open(bytes(image), image.size())) << c.what;
    }
}

TEST(Open, DirectorySizeLimit)
{
    for (uint32_t size : {0x4000000u, 0x4000001u}) {
        // An empty directory whose recorded size places it at the image start.
        std::string image(size + 22, '\0');
        put32(image, size, 0x06054b50);
        put32(image, size + 12, size);
        ZipReader reader;
        EXPECT_EQ(size == 0x4000000u, reader.open(bytes(image), image.size()).ok()) << size;
    }
}

TEST(Open, DamagedDirectoryHeadersFailOpen)
{
    TestZip zip = smallZip(20000);
    TestLayout layout;
    const std::string good = zip.build(&layout);
    struct Case {
        const char* what;
        size_t field;
        int width;
        uint32_t value;
    } cases[] = {
        {"wrong signature", layout.centralHeaders[1], 4, 0x02014b51},
        {"count beyond the headers", layout.endRecord + 10, 2, 4},
        {"name past the end", layout.centralHeaders[2] + 28, 2, 0xFFFF},
    };
    for (const Case& c : cases) {
        std::string image = good;
        if (c.width == 2)
            put16(image, c.field, static_cast<uint16_t>(c.value));
        else
            put32(image, c.field, c.value);
        ZipReader reader;
        EXPECT_FALSE(reader.open(bytes(image), image.size())) << c.what;
        ZipEntryInfo info;
        EXPECT_FALSE(reader.getEntryInfo(0, info)) << c.what;
        RecordingSink sink;
        EXPECT_FALSE(reader.extract(0, sink)) << c.what;
        EXPECT_EQ(0, sink.calls());
    }
}

TEST(Open, HugeEntryCountIsBoundedByTheImage)
{
    TestZip zip = zipWithPrefix(20000);
    zip.zip64End = true;
    TestLayout layout;
    std::string image = zip.build(&layout);
    put64(image, layout.zip64End + 32, 0xFFFFFFFFFFFFull);
    EXPECT_FALSE(ZipReader().open(bytes(image), image.size()));
}

TEST(Open, Zip64EndRecordSuppliesTheDirectory)
{
    TestZip zip = smallZip(20000);
    zip.zip64End = true;
    TestEntry big("big.bin", patternBytes(1000, 4));
    big.zip64 = true;
    zip.entries.push_back(big);
    TestLayout layout;
    const std::string image = zip.build(&layout);
    ZipReader reader;
    ASSERT_TRUE(reader.open(bytes(image), image.size()));
    EXPECT_TRUE(reader.zip64());
    EXPECT_EQ(4u, reader.zip64EndRecord().totalEntries);
    EXPECT_EQ(4u, reader.entries().size());
    EXPECT_EQ(20000u, reader.archiveOffset());
    EXPECT_EQ(layout.localHeaders[3] - 20000, reader.entries()[3].localHeaderOffset);
    RecordingSink sink;
    ASSERT_TRUE(reader.extract(3, sink));
    EXPECT_EQ(patternBytes(1000, 4), sink.data);
}

TEST(Open, BrokenZip64RecordsFallBackToTheEndRecord)
{
    TestZip zip = smallZip(20000);
    zip.zip64End = true;
    TestLayout layout;
    const std::string good = zip.build(&layout);

    // The end record's own values describe the directory as well, its size
    // counting up to the end record.
    auto withPlainEndRecord = [&](std::string image) {
        put16(image, layout.endRecord + 8, 3);
        put16(image, layout.endRecord + 10, 3);
        put32(image, layout.endRecord + 12,
              static_cast<uint32_t>(layout.endRecord - layout.directory));
        put32(image, layout.endRecord + 16, static_cast<uint32_t>(layout.directory - 20000));
        return image;
    };
    struct Case {
        const char* what;
        size_t field;
        uint32_t value;
    } cases[] = {
        {"no locator", layout.locator, 0x07064b51},
        {"no zip64 record", layout.zip64End, 0x06064b51},
        {"record size too small", layout.zip64End + 4, 10},
    };
    for (const Case& c : cases) {
        std::string image = withPlainEndRecord(good);
        put32(image, c.field, c.value);
        ZipReader reader;
        ASSERT_TRUE(reader.open(bytes(image), image.size())) << c.what;
        EXPECT_FALSE(reader.zip64()) << c.what;
        EXPECT_EQ(3u, reader.entries().size()) << c.what;
        EXPECT_EQ(20000u, reader.archiveOffset()) << c.what;
    }
}

TEST(GetEntryInfo, CopiesEntriesAndLeavesTheOutputAloneWhenOutOfRange)
{
    TestZip zip = smallZip(20000);
    zip.entries[0].externalAttributes = 0x81A40000u;
    const std::string image = zip.build();
    ZipReader reader;
    ZipEntryInfo info;
    info.fileName = "untouched";
    EXPECT_FALSE(reader.getEntryInfo(0, info)); // not open yet
    ASSERT_TRUE(reader.open(bytes(image), image.size()));
    EXPECT_FALSE(reader.getEntryInfo(3, info));
    EXPECT_EQ("untouched", info.fileName);
    ASSERT_TRUE(reader.getEntryInfo(0, info));
    EXPECT_EQ("a.txt", info.fileName);
    EXPECT_EQ(5u, info.uncompressedSize);
    EXPECT_EQ(0x81A40000u, info.externalAttributes);
    ASSERT_TRUE(reader.getEntryInfo(1, info));
    EXPECT_TRUE(info.isDirectory());
}
