// Entries deflated in independent chunks: the data goes out chunk by chunk as
// the pipeline hands them over, the local header is patched at the end, and
// the central record gets the chunk index.
#include "pack/ZipWriter.h"

#include <cerrno>
#include <cstring>

#include <zlib.h>

#include "pack/SourceFile.h"
#include "ZipChunkIndex.h"
#include "ZipFormat.h"

using namespace zipformat;

struct ZipWriter::Chunked {
    CentralEntry entry;
    bool zip64 = false;
    uint64_t headerPosition = 0;
    uint64_t dataPosition = 0;
    uint32_t chunkSize = 0;
    uint64_t uncompressedSoFar = 0;
    uint32_t crc = 0;
    // Once the chunks reach the file's size deflate cannot win: the rest is
    // not written, and the stored copy overwrites what was.
    bool storing = false;
    std::vector<ZipChunk> chunks;
};

// Here, where Chunked is complete.
ZipWriter::ZipWriter(OutputFile& out, const ZipWriterOptions& options)
    : out_(out), options_(options), archiveStart_(out.position()), inputBuffer_(kWriterBufferSize),
      outputBuffer_(kWriterBufferSize)
{
}

ZipWriter::~ZipWriter() = default;

bool ZipWriter::beginChunked(const std::string& name, uint64_t uncompressedSize, uint32_t chunkSize)
{
    chunked_.reset(new Chunked);
    Chunked& c = *chunked_;
    c.entry = CentralEntry{name, kMethodDeflated, 0, 0, uncompressedSize, archivePosition(), kDosArchiveAttribute};
    c.zip64 = options_.forceZip64 || uncompressedSize >= kSentinel32;
    c.chunkSize = chunkSize;
    c.crc = uint32_t(crc32(0, nullptr, 0));
    c.headerPosition = out_.position();
    if (!writeLocalHeader(c.entry, c.zip64))
        return fail(out_.failure());
    c.dataPosition = out_.position();
    return true;
}

bool ZipWriter::addChunk(const uint8_t* data, size_t size, uint32_t crc, uint32_t uncompressedSize)
{
    Chunked& c = *chunked_;
    c.crc = uint32_t(crc32_combine(c.crc, crc, z_off_t(uncompressedSize)));
    c.uncompressedSoFar += uncompressedSize;
    const uint64_t offset = out_.position() - c.dataPosition;
    if (c.storing || offset + size >= c.entry.uncompressedSize) {
        c.storing = true;
        return true;
    }
    ZipChunk chunk;
    chunk.compressedOffset = offset;
    chunk.crc32 = crc;
    c.chunks.push_back(chunk);
    if (!out_.write(data, size))
        return fail(out_.failure());
    return true;
}

bool ZipWriter::endChunked(const std::filesystem::path& sourcePath)
{
    std::unique_ptr<Chunked> done(std::move(chunked_));
    CentralEntry& entry = done->entry;
    if (done->uncompressedSoFar != entry.uncompressedSize)
        return fail("'" + entry.name + "' changed while it was being packed");
    if (done->storing) {
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> source(openSourceFile(sourcePath), std::fclose);
        if (!source)
            return fail("cannot read '" + entry.name + "': " + std::strerror(errno));
        if (!out_.seek(done->dataPosition))
            return fail(out_.failure());
        if (!storeData(source.get(), entry.name, entry.uncompressedSize, entry))
            return false;
        if (entry.crc != done->crc)
            return fail("'" + entry.name + "' changed while it was being packed");
    } else {
        entry.crc = done->crc;
        entry.compressedSize = out_.position() - done->dataPosition;
        // Room left beside the largest Zip64 block a central record can need.
        const uint32_t room = 0xFFFF - (kExtraBlockHeaderSize + 24);
        entry.extra = encodeChunkIndex(done->chunkSize, done->chunks, room);
    }
    const uint64_t endPosition = out_.position();
    if (!out_.seek(done->headerPosition) || !writeLocalHeader(entry, done->zip64) || !out_.seek(endPosition))
        return fail(out_.failure());
    entries_.push_back(entry);
    return true;
}
