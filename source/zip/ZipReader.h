#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "ZipArchiveBytes.h"
#include "ZipByteSource.h"
#include "ZipChunkIndex.h"
#include "ZipEntryInfo.h"
#include "ZipOpenResult.h"
#include "ZipReaderCallback.h"
#include "ZipRecords.h"
#include "ZipSolidBlock.h"

// Reads a ZIP archive that lies somewhere inside a larger image (an
// executable with the archive appended and a signature after it), through a
// byte source that may show only a window of it at a time. The source is
// borrowed, never copied or changed, and must outlive the reader.
class ZipReader
{
public:
    // Only the last this-many bytes of the image are searched for the end record.
    static const uint32_t kSearchWindow = 16384;
    static const uint32_t kMaxDirectorySize = 0x4000000;

    ZipReader() = default;
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    // Finds the end record near the end of the first `imageSize` bytes of
    // the source, works out where the archive begins and reads the whole
    // central directory. Called once. Refuses an archive in which one entry's
    // local record and data overlap another's or reach into the central
    // directory. Nothing past `imageSize` is ever read.
    ZipOpenResult open(ZipByteSource& source, uint64_t imageSize);
    // The same for an image that is already in memory.
    ZipOpenResult open(const uint8_t* image, uint64_t imageSize);

    const std::vector<ZipEntryInfo>& entries() const { return entries_; }
    // False (and `out` untouched) before the directory is read or past the end.
    bool getEntryInfo(uint32_t index, ZipEntryInfo& out) const;
    // Delivers entry `index` to `sink` and checks it against the directory's
    // size and CRC-32, and a data descriptor against the directory, before
    // calling the sink's finish().
    bool extract(uint32_t index, ZipReaderCallback& sink);
    // Entry `index`'s chunk index, Valid only when its chunks may be
    // inflated apart: the index passed its checks and the local record
    // agrees (deflated, the directory's size, no data descriptor to check).
    ChunkIndexResult chunkIndex(uint32_t index);
    // Chunk `number` of that index to `sink` (its write() only), checked as
    // inflateChunk checks it; `why` names the chunk when it fails.
    bool extractChunk(uint32_t index, const ChunkIndexResult& chunks, size_t number, ZipReaderCallback& sink,
                      std::string& why);

    // Solid block `block` of this archive's layout into `out` (decodeSolidBlock).
    bool decodeSolidBlock(const SolidBlock& block, const SolidBlockBytes* prefix, SolidBlockBytes& out,
                          const char*& why);

    bool zip64() const { return isZip64_; }
    // Bytes in front of the archive (what it was appended to); 0 when the
    // archive's offsets already count from the image start.
    uint64_t archiveOffset() const { return prefix_; }
    const ZipEndRecord& endRecord() const { return endRecord_; }
    const Zip64EndRecord& zip64EndRecord() const { return zip64EndRecord_; }

private:
    ZipOpenReason readCentralDirectory(uint64_t offset, uint64_t size, uint64_t count);
    bool extractEntry(const ZipEntryInfo& entry, ZipReaderCallback& sink);
    bool entriesAreDisjoint(uint64_t directoryOffset, uint64_t directoryLength);

    ZipMemorySource memory_;   // the source when open() was given a buffer
    ZipArchiveBytes archive_;  // the archive's part of the source
    std::vector<uint8_t> tail_; // the searched end of the image, which records point into
    ZipEndRecord endRecord_;
    Zip64EndRecord zip64EndRecord_;
    std::vector<ZipEntryInfo> entries_;
    bool directoryLoaded_ = false;
    bool isOpen_ = false;
    bool isZip64_ = false;
    uint64_t prefix_ = 0;
};
