#include "deflate/ChunkDeflate.h"

#include <climits>

#include <zlib.h>

#include "RawInflate.h"
#include "deflate/BufferDeflater.h"

namespace {

const size_t kStoredBlockMax = 65535;

// Stored blocks of at most 65535 bytes, the last one final when asked.
void appendStored(const uint8_t* data, size_t size, bool final, std::vector<uint8_t>& out)
{
    do {
        const size_t piece = size < kStoredBlockMax ? size : kStoredBlockMax;
        const bool lastPiece = piece == size;
        out.push_back(final && lastPiece ? 1 : 0);
        out.push_back(uint8_t(piece));
        out.push_back(uint8_t(piece >> 8));
        out.push_back(uint8_t(~piece));
        out.push_back(uint8_t(~piece >> 8));
        out.insert(out.end(), data, data + piece);
        data += piece;
        size -= piece;
    } while (size != 0);
}

// Unmarks the final block and ends the stream on an empty stored block at a
// byte boundary: the bits after the last block are zero, so the stored
// block's 3 header bits go into them when they fit, else into one more byte.
void makeJoinable(std::vector<uint8_t>& stream, const DeflateStreamEnds& ends)
{
    stream[size_t(ends.finalHeaderBit / 8)] &= uint8_t(~(1u << (ends.finalHeaderBit % 8)));
    stream.resize(size_t((ends.endBit + 7) / 8));
    const unsigned used = unsigned(ends.endBit % 8);
    if (used != 0)
        stream.back() &= uint8_t((1u << used) - 1);
    if (used == 0 || used > 5)
        stream.push_back(0);
    const uint8_t marker[] = {0x00, 0x00, 0xFF, 0xFF};
    stream.insert(stream.end(), marker, marker + sizeof marker);
}

} // namespace

bool findStreamEnds(const uint8_t* stream, size_t size, DeflateStreamEnds& ends)
{
    ends = DeflateStreamEnds();
    RawInflate inflater;
    z_stream& z = inflater.stream;
    if (size > UINT_MAX || !inflater.ready())
        return false;
    z.next_in = const_cast<uint8_t*>(stream);
    z.avail_in = uInt(size);
    std::vector<uint8_t> scratch(1 << 16);
    uint32_t crc = uint32_t(crc32(0, nullptr, 0));
    uint64_t header = 0;
    bool idleBefore = false;
    for (;;) {
        z.next_out = scratch.data();
        z.avail_out = uInt(scratch.size());
        const uInt inBefore = z.avail_in;
        // Z_BLOCK stops at every block boundary, with the bits left unread
        // in the last byte taken, and says whether the final block is done.
        const int status = inflate(&z, Z_BLOCK);
        const uInt produced = uInt(scratch.size()) - z.avail_out;
        crc = uint32_t(crc32(crc, scratch.data(), produced));
        ends.inflatedSize += produced;
        if (status != Z_OK && status != Z_BUF_ERROR)
            return false;
        // Bits already held can finish a block without input or output, but
        // two such steps in a row mean the stream ended before its final block.
        const bool idle = produced == 0 && z.avail_in == inBefore;
        if (idle && idleBefore)
            return false;
        idleBefore = idle;
        if (z.data_type & 128) {
            const uint64_t boundary = uint64_t(z.total_in) * 8 - uint64_t(z.data_type & 63);
            if (z.data_type & 64) {
                ends.finalHeaderBit = header;
                ends.endBit = boundary;
                ends.inflatedCrc = crc;
                return true;
            }
            header = boundary;
        }
    }
}

bool deflateChunk(BufferDeflater* deflater, const uint8_t* data, size_t size, bool last,
                  std::vector<uint8_t>& out, uint32_t& crc, std::string& error)
{
    out.clear();
    crc = entryCrc32(0, data, size);
    if (deflater != nullptr && deflater->deflate(data, size, out)) {
        if (last)
            return true;
        DeflateStreamEnds ends;
        if (!findStreamEnds(out.data(), out.size(), ends) || ends.inflatedSize != size ||
            ends.inflatedCrc != crc) {
            error = "the deflater's output does not read back as its input";
            return false;
        }
        makeJoinable(out, ends);
        if (out.size() < size)
            return true;
        out.clear();
    }
    appendStored(data, size, last, out);
    return true;
}
