#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "ZipEntryInfo.h"

// The chunk index of a deflated entry (the extra block kChunkIndexExtraId):
// where each independently inflatable chunk of its deflate stream starts, and
// what it inflates to. Readers may inflate the chunks apart, and in parallel,
// only on an index that passed every check here; an index that fails is bad
// input, and the entry is then inflated as one stream like any other.

struct ZipChunk {
    uint64_t compressedOffset = 0;   // from the entry's first data byte
    uint64_t compressedSize = 0;
    uint64_t uncompressedOffset = 0;
    uint32_t uncompressedSize = 0;
    uint32_t crc32 = 0;
};

struct ChunkIndexResult {
    enum class Status { None, Valid, Invalid };
    Status status = Status::None;
    uint32_t chunkSize = 0;
    std::vector<ZipChunk> chunks;  // filled only when Valid
    std::string reason;            // when Invalid: what failed, naming the chunk

    bool valid() const { return status == Status::Valid; }
};

// Reads and checks the entry's index: one block, a chunk count that covers
// the entry's uncompressed size exactly, offsets that start at 0, increase
// and stay inside the compressed data, and CRC-32s that combine to the
// entry's. None when the entry has no index (or is not deflated).
ChunkIndexResult readChunkIndex(const ZipEntryInfo& entry);

// The block's bytes (ID and size included) for `chunks` of `chunkSize`, or
// empty when they do not fit in one extra block of at most `room` bytes.
std::string encodeChunkIndex(uint32_t chunkSize, const std::vector<ZipChunk>& chunks, uint32_t room);
