// One chunk inflated alone: accepted only where it gives what the entry's
// single stream gives at that place.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <zlib.h>

#include "ZipChunkInflate.h"

namespace {

// Raw deflate of `text` ending with `flush`, after `history` was compressed
// (and dropped) in the same stream without a full flush: its matches may reach back.
std::string deflated(const std::string& history, const std::string& text, int flush)
{
    z_stream s{};
    deflateInit2(&s, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&s, uLong(history.size() + text.size())) + 64, '\0');
    s.next_out = reinterpret_cast<Bytef*>(&out[0]);
    s.avail_out = uInt(out.size());
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(history.data()));
    s.avail_in = uInt(history.size());
    deflate(&s, Z_SYNC_FLUSH);
    const size_t skip = out.size() - s.avail_out;
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    s.avail_in = uInt(text.size());
    deflate(&s, flush);
    out.resize(out.size() - s.avail_out);
    deflateEnd(&s);
    return out.substr(skip);
}

struct Collect : ZipReaderCallback {
    bool write(const uint8_t* data, uint32_t size) override
    {
        bytes.append(reinterpret_cast<const char*>(data), size);
        return true;
    }
    bool finish() override { return true; }
    std::string bytes;
};

TEST(ChunkInflate, AcceptsOnlyAChunkThatStandsAlone)
{
    std::string text;
    for (int i = 0; i < 40000; ++i)
        text += "line " + std::to_string(i % 977) + "\n";
    const uint32_t crc = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(text.data()), uInt(text.size())));
    struct Case {
        const char* what;
        std::string data;
        bool last;
        uint32_t size;
        uint32_t crc;
        const char* refusal; // null: accepted
    } cases[] = {
        {"a middle chunk", deflated("", text, Z_FULL_FLUSH), false, uint32_t(text.size()), crc, nullptr},
        {"the last chunk", deflated("", text, Z_FINISH), true, uint32_t(text.size()), crc, nullptr},
        {"a middle chunk that ends the stream", deflated("", text, Z_FINISH), false, uint32_t(text.size()), crc,
         "ends the entry's deflate stream early"},
        {"a last chunk that does not end it", deflated("", text, Z_FULL_FLUSH), true, uint32_t(text.size()), crc,
         "does not end the entry's deflate stream"},
        {"bytes after the stream's end", deflated("", text, Z_FINISH) + "x", true, uint32_t(text.size()), crc,
         "ends the stream before its last byte"},
        {"matches reaching before the chunk", deflated(text, text, Z_FULL_FLUSH), false, uint32_t(text.size()), crc,
         "does not inflate on its own"},
        {"cut inside a block", deflated("", text, Z_FULL_FLUSH).substr(0, 3000), false, uint32_t(text.size()), crc,
         "does not end on a block boundary"},
        {"more than its size", deflated("", text, Z_FULL_FLUSH), false, uint32_t(text.size() - 1), crc,
         "inflates to more than its"},
        {"less than its size", deflated("", text, Z_FULL_FLUSH), false, uint32_t(text.size() + 1), crc,
         "inflates to "},
        {"another CRC-32", deflated("", text, Z_FULL_FLUSH), false, uint32_t(text.size()), crc ^ 1,
         "does not match its CRC-32"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string archive = "lead" + c.data;
        ZipMemorySource source(reinterpret_cast<const uint8_t*>(archive.data()), archive.size());
        ZipArchiveBytes bytes(source, 0, archive.size());
        ZipChunk chunk;
        chunk.compressedSize = c.data.size();
        chunk.uncompressedSize = c.size;
        chunk.crc32 = c.crc;
        Collect sink;
        std::string why;
        const bool ok = inflateChunk(bytes, 4, chunk, c.last ? 2 : 0, 3, sink, why);
        if (c.refusal == nullptr) {
            EXPECT_TRUE(ok) << why;
            EXPECT_EQ(sink.bytes, text);
        } else {
            EXPECT_FALSE(ok);
            EXPECT_EQ(why.rfind(std::string(c.last ? "chunk 3 of 3 " : "chunk 1 of 3 ") + c.refusal, 0), 0u) << why;
        }
    }
}

} // namespace
