#include "ZipChunkIndex.h"

#include <zlib.h>

#include "ZipBytes.h"
#include "ZipExtraField.h"

using namespace zipformat;

namespace {

ChunkIndexResult invalid(std::string reason)
{
    ChunkIndexResult result;
    result.status = ChunkIndexResult::Status::Invalid;
    result.reason = "its chunk index is refused: " + std::move(reason);
    return result;
}

std::string chunkName(size_t i) { return "chunk " + std::to_string(i + 1); }

void putLittle(std::string& out, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(char(uint8_t(value >> (8 * i))));
}

} // namespace

ChunkIndexResult readChunkIndex(const ZipEntryInfo& entry)
{
    const uint8_t* block = nullptr;
    uint32_t size = 0;
    uint32_t count = 0;
    const auto* extra = reinterpret_cast<const uint8_t*>(entry.extraField.data());
    if (!findExtraBlock(extra, uint32_t(entry.extraField.size()), kChunkIndexExtraId, block, size, &count))
        return ChunkIndexResult(); // a broken extra field is the entry's own problem, reported elsewhere
    if (count == 0 || entry.compressionMethod != kMethodDeflated)
        return ChunkIndexResult();
    if (count > 1)
        return invalid("it is given " + std::to_string(count) + " times");
    if (size < kChunkIndexFixedSize + kChunkIndexRecordSize || (size - kChunkIndexFixedSize) % kChunkIndexRecordSize)
        return invalid("its length (" + std::to_string(size) + " bytes) holds no whole list of chunks");
    const uint32_t chunkSize = readU32(block);
    const size_t chunks = (size - kChunkIndexFixedSize) / kChunkIndexRecordSize;
    if (chunkSize == 0)
        return invalid("its chunk size is 0");
    const uint64_t needed = entry.uncompressedSize == 0 ? 1 : (entry.uncompressedSize - 1) / chunkSize + 1;
    if (needed != chunks)
        return invalid(std::to_string(chunks) + " chunks of " + std::to_string(chunkSize) + " bytes do not make " +
                       std::to_string(entry.uncompressedSize) + " bytes");

    ChunkIndexResult result;
    result.chunkSize = chunkSize;
    result.chunks.resize(chunks);
    uLong crc = crc32(0, nullptr, 0);
    for (size_t i = 0; i < chunks; ++i) {
        const uint8_t* record = block + kChunkIndexFixedSize + i * kChunkIndexRecordSize;
        ZipChunk& chunk = result.chunks[i];
        chunk.compressedOffset = readU64(record);
        chunk.crc32 = readU32(record + 8);
        chunk.uncompressedOffset = uint64_t(i) * chunkSize;
        chunk.uncompressedSize = uint32_t(i + 1 < chunks ? chunkSize : entry.uncompressedSize - chunk.uncompressedOffset);
        if (i == 0 ? chunk.compressedOffset != 0 : chunk.compressedOffset <= result.chunks[i - 1].compressedOffset)
            return invalid(chunkName(i) + " starts at " + std::to_string(chunk.compressedOffset) +
                           (i == 0 ? ", not at 0" : ", not after the chunk before it"));
        if (chunk.compressedOffset >= entry.compressedSize)
            return invalid(chunkName(i) + " starts at " + std::to_string(chunk.compressedOffset) +
                           ", past the entry's " + std::to_string(entry.compressedSize) + " compressed bytes");
        if (i > 0)
            result.chunks[i - 1].compressedSize = chunk.compressedOffset - result.chunks[i - 1].compressedOffset;
        crc = crc32_combine(crc, chunk.crc32, z_off_t(chunk.uncompressedSize));
    }
    result.chunks.back().compressedSize = entry.compressedSize - result.chunks.back().compressedOffset;
    if (uint32_t(crc) != entry.crc32)
        return invalid("the CRC-32s of its chunks do not combine to the entry's");
    result.status = ChunkIndexResult::Status::Valid;
    return result;
}

std::string encodeChunkIndex(uint32_t chunkSize, const std::vector<ZipChunk>& chunks, uint32_t room)
{
    const uint64_t dataSize = kChunkIndexFixedSize + uint64_t(chunks.size()) * kChunkIndexRecordSize;
    if (chunks.empty() || dataSize > 0xFFFF || kExtraBlockHeaderSize + dataSize > room)
        return std::string();
    std::string out;
    putLittle(out, kChunkIndexExtraId, 2);
    putLittle(out, dataSize, 2);
    putLittle(out, chunkSize, 4);
    for (const ZipChunk& chunk : chunks) {
        putLittle(out, chunk.compressedOffset, 8);
        putLittle(out, chunk.crc32, 4);
    }
    return out;
}
