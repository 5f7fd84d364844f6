#include "ZipRecords.h"

#include "ZipBytes.h"
#include "ZipExtraField.h"

bool ZipEndRecord::parse(const uint8_t* at, uint64_t available, uint32_t& length)
{
    if (available < kFixedSize)
        return false;
    if (readU32(at) != kSignature)
        return false;
    signature = kSignature;
    diskNumber = readU16(at + 4);
    centralDirectoryDisk = readU16(at + 6);
    entriesOnDisk = readU16(at + 8);
    totalEntries = readU16(at + 10);
    centralDirectorySize = readU32(at + 12);
    centralDirectoryOffset = readU32(at + 16);
    commentLength = readU16(at + 20);
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
    recordSize = readU64(at + 4);
    versionMadeBy = readU16(at + 12);
    versionNeeded = readU16(at + 14);
    diskNumber = readU32(at + 16);
    centralDirectoryDisk = readU32(at + 20);
    entriesOnDisk = readU64(at + 24);
    totalEntries = readU64(at + 32);
    centralDirectorySize = readU64(at + 40);
    centralDirectoryOffset = readU64(at + 48);

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
    versionNeeded = readU16(at + 4);
    flags = readU16(at + 6);
    compressionMethod = readU16(at + 8);
    lastModTime = readU16(at + 10);
    lastModDate = readU16(at + 12);
    crc32 = readU32(at + 14);
    compressedSize = readU32(at + 18);
    uncompressedSize = readU32(at + 22);
    fileNameLength = readU16(at + 26);
    extraFieldLength = readU16(at + 28);

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
