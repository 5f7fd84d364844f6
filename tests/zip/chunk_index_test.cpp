// The chunk index: every way a lying index is caught, and the chunks a good
// one describes.
#include <gtest/gtest.h>

#include <functional>

#include <zlib.h>

#include "TestZip.h"
#include "ZipChunkIndex.h"

namespace {

const uint32_t kChunk = 1000;

using ChunkEdit = std::function<void(std::vector<ZipChunk>&)>;
using ByteEdit = std::function<void(std::string&)>;

// An entry of 2,500 bytes in three chunks at compressed offsets 0, 400, 700
// of 900, CRC-32s that combine to the entry's; the chunks are edited before
// they are encoded, the block's bytes after.
ZipEntryInfo indexedEntry(const ChunkEdit& chunkEdit = nullptr, const ByteEdit& byteEdit = nullptr)
{
    const std::string data(2500, 'x');
    std::vector<ZipChunk> chunks(3);
    const uint64_t offsets[] = {0, 400, 700};
    for (size_t i = 0; i < 3; ++i) {
        chunks[i].compressedOffset = offsets[i];
        chunks[i].crc32 = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(data.data()), i < 2 ? kChunk : 500));
    }
    ZipEntryInfo entry;
    entry.compressionMethod = zipformat::kMethodDeflated;
    entry.uncompressedSize = data.size();
    entry.compressedSize = 900;
    entry.crc32 = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(data.data()), uInt(data.size())));
    if (chunkEdit)
        chunkEdit(chunks);
    std::string index = encodeChunkIndex(kChunk, chunks, 0xFFFF);
    if (byteEdit)
        byteEdit(index);
    entry.extraField = std::string("\x55\x54\x01\x00\x07", 5) + index; // another block before it: skipped
    return entry;
}

TEST(ChunkIndex, LyingIndexesAreRefusedNamingTheChunk)
{
    using Status = ChunkIndexResult::Status;
    struct Case {
        const char* name;
        ChunkEdit chunks;
        ByteEdit bytes;
        Status status;
        const char* reason;
    };
    const Case cases[] = {
        {"good", nullptr, nullptr, Status::Valid, ""},
        {"no index", nullptr, [](std::string& i) { i.clear(); }, Status::None, ""},
        {"given twice", nullptr, [](std::string& i) { i += i; }, Status::Invalid, "2 times"},
        {"ragged length", nullptr,
         [](std::string& i) {
             i += "zz";
             put16(i, 2, uint16_t(i.size() - 4));
         },
         Status::Invalid, "no whole list"},
        {"chunk size 0", nullptr, [](std::string& i) { put32(i, 4, 0); }, Status::Invalid, "size is 0"},
        {"too few chunks for the size", nullptr, [](std::string& i) { put32(i, 4, 2000); }, Status::Invalid,
         "do not make 2500"},
        {"first not at 0", [](std::vector<ZipChunk>& c) { c[0].compressedOffset = 5; }, nullptr, Status::Invalid,
         "chunk 1 starts at 5"},
        {"not increasing", [](std::vector<ZipChunk>& c) { c[2].compressedOffset = 400; }, nullptr, Status::Invalid,
         "chunk 3 starts at 400, not after"},
        {"past the data", [](std::vector<ZipChunk>& c) { c[2].compressedOffset = 900; }, nullptr, Status::Invalid,
         "chunk 3 starts at 900, past"},
        {"CRC-32s that do not combine", [](std::vector<ZipChunk>& c) { c[1].crc32 ^= 1; }, nullptr, Status::Invalid,
         "do not combine"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ChunkIndexResult result = readChunkIndex(indexedEntry(c.chunks, c.bytes));
        EXPECT_EQ(int(result.status), int(c.status)) << result.reason;
        EXPECT_NE(result.reason.find(c.reason), std::string::npos) << result.reason;
        EXPECT_EQ(result.chunks.size(), c.status == Status::Valid ? 3u : 0u);
    }
}

TEST(ChunkIndex, GoodIndexGivesEveryChunksPlaceAndAStoredEntryHasNone)
{
    ZipEntryInfo entry = indexedEntry();
    const ChunkIndexResult result = readChunkIndex(entry);
    ASSERT_TRUE(result.valid()) << result.reason;
    const uint64_t expected[3][4] = {{0, 400, 0, 1000}, {400, 300, 1000, 1000}, {700, 200, 2000, 500}};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(result.chunks[i].compressedOffset, expected[i][0]);
        EXPECT_EQ(result.chunks[i].compressedSize, expected[i][1]);
        EXPECT_EQ(result.chunks[i].uncompressedOffset, expected[i][2]);
        EXPECT_EQ(result.chunks[i].uncompressedSize, expected[i][3]);
    }
    entry.compressionMethod = zipformat::kMethodStored;
    EXPECT_EQ(int(readChunkIndex(entry).status), int(ChunkIndexResult::Status::None));
    EXPECT_EQ(encodeChunkIndex(kChunk, result.chunks, 30), ""); // no room: no index
}

} // namespace
