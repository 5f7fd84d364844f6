#include "ZipChunkInflate.h"

#include <vector>
#include <zlib.h>

#include "RawInflate.h"

namespace {

const uint32_t kPiece = 0x40000;

} // namespace

bool inflateChunk(ZipArchiveBytes& archive, uint64_t dataOffset, const ZipChunk& chunk, size_t number,
                  size_t count, ZipReaderCallback& sink, std::string& why)
{
    const bool last = number + 1 == count;
    const std::string name = "chunk " + std::to_string(number + 1) + " of " + std::to_string(count);
    auto refuse = [&](const std::string& what) {
        why = name + " " + what;
        return false;
    };
    RawInflate inflater;
    if (!inflater.ready())
        return refuse("cannot be inflated: out of memory");
    z_stream& stream = inflater.stream;
    std::vector<uint8_t> scratch;
    std::vector<uint8_t> output(kPiece);
    uint64_t consumed = 0;
    uint64_t produced = 0;
    uLong crc = crc32(0, nullptr, 0);
    bool ended = false;
    while (!ended) {
        if (stream.avail_in == 0 && consumed < chunk.compressedSize) {
            const uint64_t left = chunk.compressedSize - consumed;
            const uint32_t length = uint32_t(left < kPiece ? left : kPiece);
            const uint8_t* data = archive.read(dataOffset + chunk.compressedOffset + consumed, length, scratch);
            if (data == nullptr)
                return refuse("cannot be read");
            stream.next_in = const_cast<Bytef*>(data);
            stream.avail_in = length;
            consumed += length;
        }
        stream.next_out = output.data();
        stream.avail_out = kPiece;
        // Block by block, so that where the input runs out is known to be a boundary or not.
        const int status = inflate(&stream, Z_BLOCK);
        const uint32_t got = kPiece - stream.avail_out;
        if (status != Z_OK && status != Z_STREAM_END && !(status == Z_BUF_ERROR && got == 0))
            return refuse("does not inflate on its own (" + std::string(stream.msg ? stream.msg : "damaged data") + ")");
        if (produced + got > chunk.uncompressedSize)
            return refuse("inflates to more than its " + std::to_string(chunk.uncompressedSize) + " bytes");
        crc = crc32(crc, output.data(), got);
        produced += got;
        if (got != 0 && !sink.write(output.data(), got))
            return refuse("cannot be written");
        ended = status == Z_STREAM_END;
        const bool inputDone = stream.avail_in == 0 && consumed == chunk.compressedSize;
        if (ended && !(last && inputDone))
            return refuse(last ? "ends the stream before its last byte" : "ends the entry's deflate stream early");
        // Z_BLOCK stops before it notices that the block just done was the
        // final one: that shows as bit 64, and one more call ends the stream.
        const bool finalDone = (stream.data_type & 128) != 0 && (stream.data_type & 64) != 0;
        if (finalDone && !last)
            return refuse("ends the entry's deflate stream early");
        const bool atBoundary = (stream.data_type & 128) != 0 && (stream.data_type & 7) == 0;
        // A full buffer may hold back more of the block: only a partly filled one tells where inflate stopped.
        if (inputDone && !ended && !finalDone && stream.avail_out != 0) {
            if (last || !atBoundary)
                return refuse(last ? "does not end the entry's deflate stream" : "does not end on a block boundary");
            break;
        }
        if (status == Z_BUF_ERROR && got == 0)
            return refuse("makes no progress");
    }
    if (produced != chunk.uncompressedSize)
        return refuse("inflates to " + std::to_string(produced) + " bytes, not " +
                      std::to_string(chunk.uncompressedSize));
    if (uint32_t(crc) != chunk.crc32)
        return refuse("does not match its CRC-32");
    return true;
}
