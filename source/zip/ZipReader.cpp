#include "ZipReader.h"

#include <utility>

#include "ZipBytes.h"
#include "ZipChunkInflate.h"
#include "ZipEntryData.h"
#include "ZipExtraction.h"
#include "ZipOutputCheck.h"
#include "ZipSpans.h"

namespace {

const uint64_t kReserveLimit = 65536;

// Searches the window from its last possible 4-byte position down to its
// start; the match nearest the end wins. Returns the match's offset in the
// window, or -1.
int64_t findSignatureBackwards(const uint8_t* window, uint32_t windowSize, uint32_t signature)
{
    for (int64_t pos = static_cast<int64_t>(windowSize) - 4; pos >= 0; --pos) {
        if (readU32(window + pos) == signature)
            return pos;
    }
    return -1;
}

} // namespace

ZipOpenResult ZipReader::open(const uint8_t* image, uint64_t imageSize)
{
    memory_ = ZipMemorySource(image, imageSize);
    return open(memory_, imageSize);
}

ZipOpenResult ZipReader::open(ZipByteSource& source, uint64_t imageSize)
{
    if (imageSize > source.size())
        imageSize = source.size();
    if (imageSize < kSearchWindow)
        return {ZipOpenReason::TooSmall};
    // The end records are parsed from a copy of the searched tail, so that
    // the Zip64 record's extensible data stays readable after open.
    const uint64_t windowStart = imageSize - kSearchWindow;
    const uint8_t* window = readSourceBytes(source, windowStart, kSearchWindow, tail_);
    if (window == nullptr)
        return {ZipOpenReason::ReadFailed};
    if (window != tail_.data())
        tail_.assign(window, window + kSearchWindow);
    window = tail_.data();

    const int64_t endAt = findSignatureBackwards(window, kSearchWindow, ZipEndRecord::kSignature);
    if (endAt < 0)
        return {ZipOpenReason::NoEndRecord};
    uint32_t length = 0;
    if (!endRecord_.parse(window + endAt, kSearchWindow - endAt, length))
        return {ZipOpenReason::EndRecordCut};

    // The central directory is taken to end where the end record begins.
    const uint64_t endPosition = windowStart + endAt;
    uint64_t directoryEnd = endPosition;
    uint64_t directorySize = endRecord_.centralDirectorySize;
    uint64_t directoryOffset = endRecord_.centralDirectoryOffset;
    uint64_t entryCount = endRecord_.totalEntries;

    const int64_t locatorAt = findSignatureBackwards(window, kSearchWindow, Zip64Locator::kSignature);
    if (locatorAt >= 0 && kSearchWindow - locatorAt >= Zip64Locator::kFixedSize) {
        const int64_t zip64At =
            findSignatureBackwards(window, kSearchWindow, Zip64EndRecord::kSignature);
        if (zip64At >= 0 &&
            zip64EndRecord_.parse(window + zip64At, kSearchWindow - zip64At, length)) {
            isZip64_ = true;
            directoryEnd = windowStart + zip64At;
            directorySize = zip64EndRecord_.centralDirectorySize;
            directoryOffset = zip64EndRecord_.centralDirectoryOffset;
            entryCount = zip64EndRecord_.totalEntries;
        }
    }

    // A directory larger than what precedes its end, or an offset beyond the
    // directory's real position, would put the archive before the image.
    if (directorySize > directoryEnd)
        return {ZipOpenReason::DirectoryOutside};
    const uint64_t directoryPosition = directoryEnd - directorySize;
    if (directoryOffset > directoryPosition)
        return {ZipOpenReason::DirectoryOutside};
    prefix_ = directoryPosition - directoryOffset;
    archive_ = ZipArchiveBytes(source, prefix_, imageSize - prefix_);

    const ZipOpenReason read = readCentralDirectory(directoryOffset, directorySize, entryCount);
    if (read != ZipOpenReason::Opened)
        return {read};
    isOpen_ = true;
    return {ZipOpenReason::Opened};
}

ZipOpenReason ZipReader::readCentralDirectory(uint64_t offset, uint64_t size, uint64_t count)
{
    if (static_cast<uint32_t>(size) > kMaxDirectorySize)
        return ZipOpenReason::DirectoryTooLarge;
    const uint64_t available = archive_.size() - offset;
    uint64_t consumed = 0;
    // Reserve only what real headers could fill (each takes at least 46
    // bytes), and not too much at once: a made-up count must not make a
    // large allocation fail before any header was read.
    uint64_t reserve = available / ZipEntryInfo::kFixedSize;
    if (count < reserve)
        reserve = count;
    if (reserve > kReserveLimit)
        reserve = kReserveLimit;
    entries_.reserve(static_cast<size_t>(reserve));
    std::vector<uint8_t> scratch;
    for (uint64_t read = 0; read < count; ++read) {
        // Each header is read on its own, so the directory may span windows.
        uint32_t got = 0;
        const uint8_t* header = archive_.readRecord(
            offset + consumed, ZipEntryInfo::kFixedSize,
            {zipformat::kCentralNameLengthAt, zipformat::kCentralExtraLengthAt,
             zipformat::kCentralCommentLengthAt},
            got, scratch);
        ZipEntryInfo entry;
        uint32_t length = 0;
        if (header == nullptr || !entry.parse(header, got, length))
            return archive_.readFailed() ? ZipOpenReason::ReadFailed
                                         : ZipOpenReason::DirectoryDamaged;
        entries_.push_back(std::move(entry));
        consumed += length;
    }
    // An entry whose local record could not be read would be missing from
    // the overlap check, so a refused view fails the whole open.
    const bool disjoint = entriesAreDisjoint(offset, consumed);
    if (archive_.readFailed())
        return ZipOpenReason::ReadFailed;
    if (!disjoint)
        return ZipOpenReason::EntriesOverlap;
    directoryLoaded_ = true;
    return ZipOpenReason::Opened;
}

bool ZipReader::entriesAreDisjoint(uint64_t directoryOffset, uint64_t directoryLength)
{
    std::vector<ZipSpan> spans;
    spans.reserve(entries_.size() + 1);
    spans.push_back(ZipSpan{directoryOffset, directoryOffset + directoryLength});
    for (const ZipEntryInfo& entry : entries_) {
        // An entry that cannot be located delivers nothing; its extraction fails.
        ZipEntryData where;
        if (locateEntryData(archive_, entry, where))
            spans.push_back(ZipSpan{where.headerOffset, where.dataEnd()});
    }
    return spansAreDisjoint(spans);
}

bool ZipReader::getEntryInfo(uint32_t index, ZipEntryInfo& out) const
{
    if (!directoryLoaded_ || index >= entries_.size())
        return false;
    out = entries_[index];
    return true;
}

bool ZipReader::extract(uint32_t index, ZipReaderCallback& sink)
{
    if (!isOpen_ || !directoryLoaded_ || index >= entries_.size())
        return false;
    return extractEntry(entries_[index], sink);
}

bool ZipReader::extractEntry(const ZipEntryInfo& entry, ZipReaderCallback& sink)
{
    ZipEntryData where;
    if (!locateEntryData(archive_, entry, where))
        return false;

    ZipOutputCheck check(entry.uncompressedSize, entry.crc32);
    bool delivered = false;
    switch (where.method) {
    case kMethodStored:
        delivered = extractStored(archive_, where.dataOffset, where.dataSize, sink, check);
        break;
    case kMethodDeflated:
        delivered = extractDeflated(archive_, where.dataOffset, where.dataSize, sink, check);
        break;
    default:
        // Unknown methods deliver nothing; the check below still holds them
        // to the declared size, so only an empty entry succeeds.
        delivered = true;
        break;
    }
    if (!delivered || !check.matches())
        return false;
    if (where.descriptorFollows) {
        std::vector<uint8_t> scratch;
        uint32_t got = 0;
        const uint8_t* descriptor =
            archive_.readUpTo(where.dataEnd(), kMaxDataDescriptorSize, got, scratch);
        if (descriptor == nullptr || !dataDescriptorMatches(descriptor, got, entry))
            return false;
    }
    return sink.finish();
}

ChunkIndexResult ZipReader::chunkIndex(uint32_t index)
{
    if (!isOpen_ || !directoryLoaded_ || index >= entries_.size())
        return ChunkIndexResult();
    const ZipEntryInfo& entry = entries_[index];
    ChunkIndexResult result = readChunkIndex(entry);
    ZipEntryData where;
    if (result.valid() && (!locateEntryData(archive_, entry, where) || where.method != kMethodDeflated ||
                           where.descriptorFollows || where.dataSize != entry.compressedSize)) {
        result = ChunkIndexResult();
        result.status = ChunkIndexResult::Status::Invalid;
        result.reason = "its local record does not agree with its chunk index";
    }
    return result;
}

bool ZipReader::extractChunk(uint32_t index, const ChunkIndexResult& chunks, size_t number, ZipReaderCallback& sink,
                             std::string& why)
{
    ZipEntryData where;
    if (!isOpen_ || !directoryLoaded_ || index >= entries_.size() || number >= chunks.chunks.size() ||
        !locateEntryData(archive_, entries_[index], where)) {
        why = "its data cannot be found";
        return false;
    }
    return inflateChunk(archive_, where.dataOffset, chunks.chunks[number], number, chunks.chunks.size(), sink, why);
}

bool ZipReader::decodeSolidBlock(const SolidBlock& block, const SolidBlockBytes* prefix, SolidBlockBytes& out,
                                 const char*& why)
{
    why = "its data cannot be found";
    if (!isOpen_ || !directoryLoaded_ || block.carrier >= entries_.size())
        return false;
    return ::decodeSolidBlock(archive_, entries_[block.carrier], block, prefix, out, why);
}
