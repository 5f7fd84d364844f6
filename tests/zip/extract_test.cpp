// Extraction of single entries: stored and deflated data, what the sink
// sees, which header wins, verification against the directory, and damaged
// or lying input.
#include <gtest/gtest.h>

#include "TestZip.h"
#include "ZipExtraction.h"
#include "ZipReader.h"

namespace {

struct Opened
{
    TestLayout layout; // filled by the build below, so declared first
    std::string image;
    ZipReader reader;

    explicit Opened(const TestZip& zip) : image(zip.build(&layout)) {}
    bool open() { return reader.open(bytes(image), image.size()).ok(); }
};

TestZip oneEntry(const TestEntry& entry)
{
    TestZip zip = zipWithPrefix();
    zip.entries.push_back(entry);
    return zip;
}

// Opens the image (which must succeed) and extracts entry `index`.
bool extractFrom(const std::string& image, RecordingSink& sink, uint32_t index = 0)
{
    ZipReader reader;
    if (!reader.open(bytes(image), image.size())) {
        ADD_FAILURE() << "open failed";
        return false;
    }
    return reader.extract(index, sink);
}

const size_t kLocalCrc = 14, kLocalCompressed = 18;
const size_t kCentralMethod = 10, kCentralCrc = 16, kCentralCompressed = 20,
             kCentralUncompressed = 24, kCentralOffset = 42;

} // namespace

TEST(Extract, EmptyEntriesGiveOneEmptyWriteThenFinish)
{
    for (uint16_t method : {0, 8}) {
        Opened z(oneEntry({"empty", "", method}));
        ASSERT_TRUE(z.open());
        if (method == 8) {
            EXPECT_EQ(2u, z.reader.entries()[0].compressedSize); // the empty final block
        }
        RecordingSink sink;
        ASSERT_TRUE(z.reader.extract(0, sink)) << method;
        EXPECT_EQ(std::vector<uint32_t>{0}, sink.writes) << method;
        EXPECT_EQ(1, sink.finishes) << method;
    }
}

TEST(Extract, DeflatedOutputComesInChunksOf262144)
{
    const std::string content = patternBytes(600000, 7);
    Opened z(oneEntry({"big", content, 8}));
    ASSERT_TRUE(z.open());
    RecordingSink sink;
    ASSERT_TRUE(z.reader.extract(0, sink));
    EXPECT_EQ((std::vector<uint32_t>{262144, 262144, 75712}), sink.writes);
    EXPECT_EQ(content, sink.data);
    EXPECT_EQ(1, sink.finishes);
}

TEST(Extract, StoredEntryIsOneWriteStraightFromTheImage)
{
    const std::string content = patternBytes(300000, 8);
    Opened z(oneEntry({"stored", content, 0}));
    ASSERT_TRUE(z.open());
    struct PointerSink : RecordingSink {
        const uint8_t* first = nullptr;
        bool write(const uint8_t* d, uint32_t n) override
        {
            if (!first)
                first = d;
            return RecordingSink::write(d, n);
        }
    } sink;
    ASSERT_TRUE(z.reader.extract(0, sink));
    EXPECT_EQ(std::vector<uint32_t>{300000}, sink.writes);
    EXPECT_EQ(bytes(z.image) + z.layout.dataStarts[0], sink.first);
    EXPECT_EQ(content, sink.data);
}

TEST(Extract, UnsupportedMethodsDeliverNothing)
{
    struct Case {
        const char* content;
        bool ok;
    } cases[] = {{"", true}, {"abc", false}};
    for (const Case& c : cases) {
        Opened z(oneEntry({"m12", c.content, 12}));
        ASSERT_TRUE(z.open());
        RecordingSink sink;
        EXPECT_EQ(c.ok, z.reader.extract(0, sink)) << c.content;
        EXPECT_TRUE(sink.writes.empty());
        EXPECT_EQ(c.ok ? 1 : 0, sink.finishes) << c.content;
    }
}

TEST(Extract, LocalHeaderDecidesTheMethod)
{
    const std::string text(5000, 'q');
    struct Case {
        uint16_t method, directoryMethod;
    } cases[] = {{0, 8}, {8, 0}, {8, 12}};
    for (const Case& c : cases) {
        Opened z(oneEntry({"m", text, c.method}));
        put16(z.image, z.layout.centralHeaders[0] + kCentralMethod, c.directoryMethod);
        RecordingSink sink;
        EXPECT_TRUE(extractFrom(z.image, sink)) << c.method;
        EXPECT_EQ(text, sink.data) << c.method;
    }
}

TEST(Extract, WhichHeaderGivesTheCompressedSize)
{
    const std::string text = patternBytes(4000, 3);
    struct Case {
        const char* what;
        uint16_t method;
        size_t field; // offset within the header that gets damaged
        bool local;
        uint32_t value;
        bool ok;
    } cases[] = {
        {"stored ignores the directory size", 0, kCentralCompressed, false, 999999, true},
        {"stored follows the local size", 0, kLocalCompressed, true, 3000, false},
        {"deflated ignores the local size", 8, kLocalCompressed, true, 1, true},
        {"deflated follows the directory size", 8, kCentralCompressed, false, 100, false},
        {"deflated with no input", 8, kCentralCompressed, false, 0, false},
    };
    for (const Case& c : cases) {
        Opened z(oneEntry({"e", text, c.method}));
        const size_t header = c.local ? z.layout.localHeaders[0] : z.layout.centralHeaders[0];
        put32(z.image, header + c.field, c.value);
        RecordingSink sink;
        EXPECT_EQ(c.ok, extractFrom(z.image, sink)) << c.what;
        EXPECT_EQ(c.ok ? 1 : 0, sink.finishes) << c.what;
        if (c.ok) {
            EXPECT_EQ(text, sink.data) << c.what;
        }
    }
}

TEST(Extract, StoredSizeFromTheLocalHeaderIsHeldToTheDirectory)
{
    // A shorter local size delivers fewer bytes than the directory declares.
    Opened z(oneEntry({"e", "0123456789", 0}));
    put32(z.image, z.layout.localHeaders[0] + kLocalCompressed, 4);
    RecordingSink sink;
    EXPECT_FALSE(extractFrom(z.image, sink));
    EXPECT_EQ("0123", sink.data);
    EXPECT_EQ(0, sink.finishes);
}

TEST(Extract, DirectoryCrcAndSizeAreVerified)
{
    const std::string text = patternBytes(10000, 5);
    struct Case {
        const char* what;
        uint16_t method;
        bool local;
        size_t field;
        uint32_t value;
        bool ok;
        size_t delivered; // bytes the sink saw
    } cases[] = {
        {"wrong local CRC is ignored", 8, true, kLocalCrc, 0x12345678, true, 10000},
        {"wrong directory CRC, deflated", 8, false, kCentralCrc, 0x12345678, false, 10000},
        {"wrong directory CRC, stored", 0, false, kCentralCrc, 0x12345678, false, 10000},
        {"declared size too large", 8, false, kCentralUncompressed, 10001, false, 10000},
        {"declared size too small, stored", 0, false, kCentralUncompressed, 9999, false, 0},
        {"declared size too small, deflated", 8, false, kCentralUncompressed, 9999, false, 0},
    };
    for (const Case& c : cases) {
        Opened z(oneEntry({"v", text, c.method}));
        const size_t header = c.local ? z.layout.localHeaders[0] : z.layout.centralHeaders[0];
        put32(z.image, header + c.field, c.value);
        RecordingSink sink;
        EXPECT_EQ(c.ok, extractFrom(z.image, sink)) << c.what;
        EXPECT_EQ(c.delivered, sink.data.size()) << c.what;
        EXPECT_EQ(c.ok ? 1 : 0, sink.finishes) << c.what;
    }
}

TEST(Extract, LyingSizeStopsTheInflateEarly)
{
    // 4 MiB of zeros compress to a few KiB; a directory claiming 1,000 bytes
    // must not let 4 MiB reach the sink.
    const std::string zeros(4u << 20, '\0');
    Opened z(oneEntry({"bomb", zeros, 8}));
    put32(z.image, z.layout.centralHeaders[0] + kCentralUncompressed, 300000);
    RecordingSink sink;
    EXPECT_FALSE(extractFrom(z.image, sink));
    EXPECT_LE(sink.data.size(), 300000u);
    EXPECT_EQ(1u, sink.writes.size());
    EXPECT_EQ(0, sink.finishes);
}

TEST(Extract, SizesAfterTheData)
{
    const std::string text = patternBytes(70000, 9);
    struct Case {
        uint16_t method;
        bool zip64;
    } cases[] = {{0, false}, {8, false}, {0, true}, {8, true}};
    for (const Case& c : cases) {
        TestEntry entry{"dd", text, c.method};
        entry.dataDescriptor = true;
        entry.zip64 = c.zip64;
        TestZip zip = oneEntry(entry);
        zip.entries.push_back({"after", "next entry", 0});
        Opened z(zip);
        ASSERT_TRUE(z.open());
        for (uint32_t i = 0; i < 2; ++i) {
            RecordingSink sink;
            ASSERT_TRUE(z.reader.extract(i, sink)) << c.method << " " << c.zip64 << " " << i;
            EXPECT_EQ(i == 0 ? text : "next entry", sink.data);
        }
    }
}

TEST(Extract, DataDescriptorMustAgreeWithTheDirectory)
{
    const std::string text = patternBytes(30000, 10);
    struct Case {
        const char* what;
        bool signature, zip64;
        size_t field; // offset in the descriptor after its signature; 0: none
        bool ok;
    } cases[] = {
        {"agrees, with signature", true, false, 0, true},
        {"agrees, without signature", false, false, 0, true},
        {"agrees, Zip64 sizes", true, true, 0, true},
        {"other CRC-32", true, false, 0 + 1, false},
        {"other compressed size", false, false, 4 + 1, false},
        {"other uncompressed size", true, false, 8 + 1, false},
        {"other Zip64 uncompressed size", true, true, 12 + 1, false},
    };
    for (uint16_t method : {0, 8}) {
        for (const Case& c : cases) {
            TestEntry entry{"dd", text, method};
            entry.dataDescriptor = true;
            entry.descriptorSignature = c.signature;
            entry.zip64 = c.zip64;
            TestZip zip = oneEntry(entry);
            zip.entries.push_back({"next", "x", 0});
            Opened z(zip);
            if (c.field != 0) {
                // Changes one byte of the field; the offset is 1 past its start.
                const size_t at = z.layout.localHeaders[1] - (c.zip64 ? 20 : 12) + c.field - 1;
                z.image[at] = static_cast<char>(z.image[at] ^ 0x40);
            }
            ASSERT_TRUE(z.open()) << c.what;
            RecordingSink sink;
            EXPECT_EQ(c.ok, z.reader.extract(0, sink)) << method << " " << c.what;
            EXPECT_EQ(text, sink.data) << method << " " << c.what;
            EXPECT_EQ(c.ok ? 1 : 0, sink.finishes) << method << " " << c.what;
        }
    }
}

TEST(Extract, TruncatedDeflateInputFailsInsteadOfLooping)
{
    const std::string text = patternBytes(50000, 11);
    const std::string packed = deflateRawUnfinished(text); // never reaches its end
    TestEntry entry{"cut", text, 8};
    entry.rawData = packed;
    Opened z(oneEntry(entry));
    // Stops a looping extraction so that the test fails rather than hangs.
    struct BoundedSink : RecordingSink {
        bool write(const uint8_t* d, uint32_t n) override
        {
            return RecordingSink::write(d, n) && writes.size() < 1000;
        }
    } sink;
    EXPECT_FALSE(extractFrom(z.image, sink));
    EXPECT_LT(sink.writes.size(), 1000u);
    EXPECT_EQ(text, sink.data); // all that could be produced was delivered
    EXPECT_EQ(0, sink.finishes);
}

TEST(Extract, CorruptDeflateDataFails)
{
    const std::string text = patternBytes(5000, 12);
    TestEntry entry{"bad", text, 8};
    entry.rawData = deflateRaw(text);
    entry.rawData[0] = static_cast<char>(0xFF); // reserved block type
    Opened z(oneEntry(entry));
    RecordingSink sink;
    EXPECT_FALSE(extractFrom(z.image, sink));
    EXPECT_EQ(0, sink.finishes);
}

TEST(Extract, DataErrorAtAnotherLocalHeaderIsPassedOver)
{
    // A stream that stops without ending, a stored block with bad lengths
    // (the data error), then a local header and a fresh stream after it.
    const std::string first = "first part, ", second = "second part";
    const std::string badBlock("\x00\x01\x00\x00\x00", 5);
    std::string header(30, '\0');
    put32(header, 0, 0x04034b50);
    put16(header, 26, 2);
    header += "xy";
    struct Case {
        const char* what;
        std::string between;
        bool ok;
    } cases[] = {
        {"local header follows", header, true},
        {"anything else follows", std::string(32, 'z'), false},
        {"truncated local header", header.substr(0, 29), false},
    };
    for (const Case& c : cases) {
        TestEntry entry{"joined", first + second, 8};
        entry.rawData = deflateRawUnfinished(first) + badBlock + c.between + deflateRaw(second);
        Opened z(oneEntry(entry));
        RecordingSink sink;
        EXPECT_EQ(c.ok, extractFrom(z.image, sink)) << c.what;
        if (c.ok) {
            EXPECT_EQ(std::vector<uint32_t>{static_cast<uint32_t>(first.size() + second.size())},
                      sink.writes);
            EXPECT_EQ(first + second, sink.data);
        } else {
            EXPECT_EQ(0, sink.finishes) << c.what;
        }
    }
}

TEST(Extract, EntriesReachingOutsideTheImageAreRefusedWithoutSinkCalls)
{
    const std::string text = patternBytes(2000, 13);
    struct Case {
        const char* what;
        uint16_t method;
        bool local;
        size_t field;
        int64_t value; // negative: relative to the archive's size
    } cases[] = {
        {"local header offset at the archive size", 0, false, kCentralOffset, 0},
        {"local header offset past the archive", 0, false, kCentralOffset, 0xFFFFFFF0},
        {"local header cut by the end", 0, false, kCentralOffset, -20},
        {"stored size past the end", 0, true, kLocalCompressed, 0x7FFFFFFF},
        {"stored size wraps", 0, true, kLocalCompressed, 0xFFFFFFFF},
        {"deflate size past the end", 8, false, kCentralCompressed, 0x10000000},
    };
    for (const Case& c : cases) {
        Opened z(oneEntry({"x", text, c.method}));
        const size_t archiveSize = z.image.size() - z.layout.archiveStart;
        uint32_t value = static_cast<uint32_t>(c.value);
        if (c.field == kCentralOffset && c.value <= 0)
            value = static_cast<uint32_t>(archiveSize + c.value);
        const size_t header = c.local ? z.layout.localHeaders[0] : z.layout.centralHeaders[0];
        put32(z.image, header + c.field, value);
        RecordingSink sink;
        EXPECT_FALSE(extractFrom(z.image, sink)) << c.what;
        EXPECT_EQ(0, sink.calls()) << c.what;
    }
}

TEST(Extract, SinkResultsDecide)
{
    const std::string text = patternBytes(600000, 14);
    for (uint16_t method : {0, 8}) {
        Opened z(oneEntry({"s", text, method}));
        ASSERT_TRUE(z.open());
        RecordingSink refusesWrite;
        refusesWrite.failWriteAt = 0;
        EXPECT_FALSE(z.reader.extract(0, refusesWrite));
        EXPECT_EQ(1u, refusesWrite.writes.size());
        EXPECT_EQ(0, refusesWrite.finishes);

        RecordingSink refusesFinish;
        refusesFinish.finishResult = false;
        EXPECT_FALSE(z.reader.extract(0, refusesFinish));
        EXPECT_EQ(1, refusesFinish.finishes);
    }
}

TEST(Extract, BadIndexOrClosedReaderMakesNoSinkCall)
{
    Opened z(oneEntry({"only", "x", 0}));
    RecordingSink sink;
    EXPECT_FALSE(z.reader.extract(0, sink)); // not open yet
    ASSERT_TRUE(z.open());
    EXPECT_FALSE(z.reader.extract(1, sink));
    EXPECT_EQ(0, sink.calls());
}

TEST(ExtractPieces, StoredDataBeyondOneWriteIsSplitNotTruncated)
{
    struct Case {
        size_t size;
        uint32_t maxWrite;
        std::vector<uint32_t> writes;
    } cases[] = {
        {20, 7, {7, 7, 6}},
        {21, 7, {7, 7, 7}},
        {0, 7, {0}},
        {5, 7, {5}},
    };
    for (const Case& c : cases) {
        const std::string data = patternBytes(c.size, 15);
        ZipOutputCheck check(c.size, crcOf(data));
        RecordingSink sink;
        ZipMemorySource source(bytes(data), data.size());
        ZipArchiveBytes archive(source, 0, data.size());
        ASSERT_TRUE(extractStored(archive, 0, c.size, sink, check, c.maxWrite));
        EXPECT_EQ(c.writes, sink.writes) << c.size;
        EXPECT_EQ(data, sink.data);
        EXPECT_TRUE(check.matches());
    }
}

TEST(ExtractPieces, CompressedInputMayArriveInPieces)
{
    const std::string text = patternBytes(100000, 16) + std::string(100000, 'a');
    const std::string packed = deflateRaw(text);
    for (uint32_t piece : {1u, 3u, 4096u, 0x7FFFFFFFu}) {
        ZipOutputCheck check(text.size(), crcOf(text));
        RecordingSink sink;
        ZipMemorySource source(bytes(packed), packed.size());
        ZipArchiveBytes archive(source, 0, packed.size());
        ASSERT_TRUE(extractDeflated(archive, 0, packed.size(), sink, check, piece)) << piece;
        EXPECT_EQ(text, sink.data) << piece;
        EXPECT_TRUE(check.matches()) << piece;
    }
}
