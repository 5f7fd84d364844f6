#include "ZipRecords.h"

#include "ZipBytes.h"
#include "ZipExtraField.h"

using namespace zipformat;

bool ZipEndRecord::parse(const uint8_t* at, uint64_t available, uint32_t& length)
{
    if (available < kFixedSize)
        return false;
    if (readU32(at) != kSignature)
        return false;
    signature = kSignature;
    diskNumber = readU16(at + kEndDiskAt);
    centralDirectoryDisk = readU16(at + kEndDirectoryDiskAt);
    entriesOnDisk = readU16(at + kEndEntriesOnDiskAt);
    totalEntries = readU16(at + kEndTotalEntriesAt);
    centralDirectorySize = readU32(at + kEndDirectorySizeAt);
    centralDirectoryOffset = readU32(at + kEndDirectoryOffsetAt);
    commentLength = readU16(at + kEndCommentLengthAt);
    if (available < kFixedSize + static_cast<uint64_t>(commentLength))
        return false;
    comment.assign(reinterpret_cast<const char*>(at + kFixedSize), commentLength);
    length = kFixedSize + commentLength;
    return true;
}

bool Zip64EndRecord::parse(const uint8_t* at, uint64_t available, uint32_t& length)
{
    if (available < kFixedSize)
        return false;
    if (readU32(at) != kSignature)
        return false;
    signature = kSignature;
    recordSize = readU64(at + kZip64EndRecordSizeAt);
    versionMadeBy = readU16(at + kZip64EndMadeByAt);
    versionNeeded = readU16(at + kZip64EndNeededAt);
    diskNumber = readU32(at + kZip64EndDiskAt);
    centralDirectoryDisk = readU32(at + kZip64EndDirectoryDiskAt);
    entriesOnDisk = readU64(at + kZip64EndEntriesOnDiskAt);
    totalEntries = readU64(at + kZip64EndTotalEntriesAt);
    centralDirectorySize = readU64(at + kZip64EndDirectorySizeAt);
    centralDirectoryOffset = readU64(at + kZip64EndDirectoryOffsetAt);

    // A size below the fixed part, or one that runs past the data, would make
    // the extensible data start or end outside the image.
    const uint64_t fixedPart = kFixedSize - kSizedFrom;
    if (recordSize < fixedPart || recordSize > available - kSizedFrom)
        return false;
    extensibleDataLength = static_cast<uint32_t>(recordSize - fixedPart);
    extensibleData = extensibleDataLength ? at + kFixedSize : nullptr;
    length = static_cast<uint32_t>(recordSize + kSizedFrom);
    return true;
}

bool ZipLocalHeader::parse(const uint8_t* at, uint64_t available, uint32_t& length)
{
    if (available < fixedSize)
        return false;
    if (readU32(at) != kSignature)
        return false;
    signature = kSignature;
    versionNeeded = readU16(at + kLocalNeededAt);
    flags = readU16(at + kLocalFlagsAt);
    compressionMethod = readU16(at + kLocalMethodAt);
    lastModTime = readU16(at + kLocalTimeAt);
    lastModDate = readU16(at + kLocalDateAt);
    crc32 = readU32(at + kLocalCrcAt);
    compressedSize = readU32(at + kLocalCompressedAt);
    uncompressedSize = readU32(at + kLocalUncompressedAt);
    fileNameLength = readU16(at + kLocalNameLengthAt);
    extraFieldLength = readU16(at + kLocalExtraLengthAt);

    const uint32_t total = fixedSize + fileNameLength + extraFieldLength;
    if (available < total)
        return false;
    fileName.assign(reinterpret_cast<const char*>(at + fixedSize), fileNameLength);

    const uint8_t* block = nullptr;
    uint32_t blockSize = 0;
    if (!findZip64Block(at + fixedSize + fileNameLength, extraFieldLength, block, blockSize))
        return false;
    if (block) {
        Zip64BlockCursor cursor(block, blockSize);
        if (!cursor.takeIfSentinel(uncompressedSize) || !cursor.takeIfSentinel(compressedSize))
            return false;
    }
    length = total;
    return true;
}
