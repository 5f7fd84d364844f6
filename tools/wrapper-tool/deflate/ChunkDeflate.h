#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class BufferDeflater;

// A big entry is deflated as independent chunks that join into one ordinary
// deflate stream: each chunk starts with an empty window, and every chunk but
// the last ends byte-aligned on an empty stored block (as zlib's
// Z_SYNC_FLUSH ends it) with no block marked final. Any standard reader
// inflates the concatenation; each chunk also inflates alone.

// Entries above this size are cut into chunks of kDeflateChunkSize bytes
// (the last one shorter); chosen by bench/chunk_sizes.cpp.
const uint64_t kChunkedEntryThreshold = uint64_t(4) << 20;
const uint32_t kDeflateChunkSize = uint32_t(2) << 20;

// Deflates one chunk into `out` (`deflater` null: stored blocks). A chunk
// that does not shrink goes out as stored blocks. `crc` receives its CRC-32.
// False, with the reason, only when the deflater's own result does not read
// back as this chunk's bytes.
bool deflateChunk(BufferDeflater* deflater, const uint8_t* data, size_t size, bool last,
                  std::vector<uint8_t>& out, uint32_t& crc, std::string& error);

// Where the final block of a whole deflate stream starts and its end, in bits
// from the first byte, found by inflating it with zlib (block by block); the
// inflated bytes' CRC-32 and count as well. False when it is no complete stream.
struct DeflateStreamEnds {
    uint64_t finalHeaderBit = 0;
    uint64_t endBit = 0;
    uint64_t inflatedSize = 0;
    uint32_t inflatedCrc = 0;
};
bool findStreamEnds(const uint8_t* stream, size_t size, DeflateStreamEnds& ends);
