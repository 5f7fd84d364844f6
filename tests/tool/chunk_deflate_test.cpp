// Chunked deflate: the chunks of any data, at any level, join into one
// stream that zlib inflates to the data, and each chunk inflates alone.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include <zlib.h>

#include "deflate/BufferDeflater.h"
#include "deflate/ChunkDeflate.h"

namespace {

// Inflates raw deflate `in` with a fresh window; `ended` tells whether a
// final block was met, and the whole input must be taken.
bool inflateRaw(const std::vector<uint8_t>& in, std::vector<uint8_t>& out, bool& ended)
{
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK)
        return false;
    z.next_in = const_cast<uint8_t*>(in.data());
    z.avail_in = uInt(in.size());
    std::vector<uint8_t> buffer(1 << 16);
    int status = Z_OK;
    while (status == Z_OK) {
        z.next_out = buffer.data();
        z.avail_out = uInt(buffer.size());
        status = inflate(&z, Z_SYNC_FLUSH);
        out.insert(out.end(), buffer.data(), buffer.data() + (buffer.size() - z.avail_out));
        if (status == Z_OK && z.avail_in == 0 && z.avail_out != 0)
            break;
    }
    ended = status == Z_STREAM_END;
    const bool ok = (status == Z_OK || status == Z_STREAM_END || status == Z_BUF_ERROR) && z.avail_in == 0;
    inflateEnd(&z);
    return ok;
}

std::vector<uint8_t> sample(const char* kind, size_t size)
{
    std::mt19937 random(size);
    std::vector<uint8_t> data(size);
    for (size_t i = 0; i < size; ++i) {
        const uint32_t r = random();
        data[i] = kind[0] == 'n' ? uint8_t(r) : kind[0] == 'z' ? 0 : uint8_t("abcdefgh \n"[r % 10]);
    }
    return data;
}

TEST(ChunkDeflate, ChunksJoinIntoOneStreamAndInflateAlone)
{
    struct Case {
        const char* kind; // text, noise (stored chunks), zeros
        size_t size;
        size_t chunk;
        int level;        // 0: no deflater, stored blocks only
    };
    const Case cases[] = {{"text", 300000, 65536, 6},  {"text", 300000, 100000, 12}, {"noise", 200000, 70000, 10},
                          {"zeros", 1 << 20, 1 << 18, 1}, {"text", 150001, 150000, 10}, {"text", 140000, 70000, 0},
                          {"noise", 65535 * 2 + 7, 65536 * 2, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.kind) + " " + std::to_string(c.size) + "/" + std::to_string(c.chunk) + " level " +
                     std::to_string(c.level));
        const std::vector<uint8_t> data = sample(c.kind, c.size);
        BufferDeflater deflater(c.level == 0 ? 1 : c.level);
        std::vector<uint8_t> joined;
        for (size_t at = 0; at < data.size(); at += c.chunk) {
            const size_t size = std::min(c.chunk, data.size() - at);
            const bool last = at + size == data.size();
            std::vector<uint8_t> chunk;
            uint32_t crc = 0;
            std::string error;
            ASSERT_TRUE(deflateChunk(c.level ? &deflater : nullptr, data.data() + at, size, last, chunk, crc, error))
                << error;
            EXPECT_EQ(crc, uint32_t(crc32(0, data.data() + at, uInt(size))));
            std::vector<uint8_t> alone;
            bool ended = false;
            ASSERT_TRUE(inflateRaw(chunk, alone, ended));
            EXPECT_EQ(ended, last);
            EXPECT_TRUE(alone == std::vector<uint8_t>(data.begin() + at, data.begin() + at + size));
            joined.insert(joined.end(), chunk.begin(), chunk.end());
        }
        std::vector<uint8_t> inflated;
        bool ended = false;
        ASSERT_TRUE(inflateRaw(joined, inflated, ended));
        EXPECT_TRUE(ended);
        EXPECT_TRUE(inflated == data);
        if (c.kind[0] == 'n')
            EXPECT_LT(joined.size(), data.size() + data.size() / 1000 + 16); // stored: a few bytes a block
    }
}

TEST(ChunkDeflate, StreamEndsRefuseWhatIsNoWholeStream)
{
    const std::vector<uint8_t> data = sample("text", 100000);
    BufferDeflater deflater(10);
    std::vector<uint8_t> stream;
    ASSERT_TRUE(deflater.deflate(data.data(), data.size(), stream));
    DeflateStreamEnds ends;
    ASSERT_TRUE(findStreamEnds(stream.data(), stream.size(), ends));
    EXPECT_EQ(ends.inflatedSize, data.size());
    EXPECT_EQ(stream[ends.finalHeaderBit / 8] >> (ends.finalHeaderBit % 8) & 1, 1);
    EXPECT_EQ((ends.endBit + 7) / 8, stream.size());
    const std::vector<uint8_t> cut(stream.begin(), stream.begin() + stream.size() / 2);
    const std::vector<uint8_t> garbage(500, 0xFF);
    EXPECT_FALSE(findStreamEnds(cut.data(), cut.size(), ends));
    EXPECT_FALSE(findStreamEnds(garbage.data(), garbage.size(), ends));
}

} // namespace
