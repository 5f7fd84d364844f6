#include "ZipEntryInfo.h"

#include "ZipBytes.h"
#include "ZipExtraField.h"
#include "ZipFormat.h"

using namespace zipformat;

namespace {

// The Unix file type lives in the top four bits of the mode, which Unix hosts
// store in the upper half of the external attributes.
const uint32_t kUnixTypeMask = 0xF0000000u;
const uint32_t kUnixTypeDirectory = 0x40000000u;
const uint32_t kUnixTypeSymlink = 0xA0000000u;

} // namespace

bool ZipEntryInfo::parse(const uint8_t* at, uint64_t available, uint32_t& length)
{
    if (available < kFixedSize)
        return false;
    if (readU32(at) != kSignature)
        return false;

    signature = kSignature;
    versionMadeBy = readU16(at + kCentralMadeByAt);
    versionNeeded = readU16(at + kCentralNeededAt);
    flags = readU16(at + kCentralFlagsAt);
    compressionMethod = readU16(at + kCentralMethodAt);
    lastModTime = readU16(at + kCentralTimeAt);
    lastModDate = readU16(at + kCentralDateAt);
    crc32 = readU32(at + kCentralCrcAt);
    compressedSize = readU32(at + kCentralCompressedAt);
    uncompressedSize = readU32(at + kCentralUncompressedAt);
    fileNameLength = readU16(at + kCentralNameLengthAt);
    extraFieldLength = readU16(at + kCentralExtraLengthAt);
    fileCommentLength = readU16(at + kCentralCommentLengthAt);
    diskNumberStart = readU16(at + kCentralDiskStartAt);
    internalAttributes = readU16(at + kCentralInternalAttributesAt);
    externalAttributes = readU32(at + kCentralExternalAttributesAt);
    localHeaderOffset = readU32(at + kCentralLocalOffsetAt);

    const uint32_t total = kFixedSize + fileNameLength + extraFieldLength + fileCommentLength;
    if (available < total)
        return false;

    const char* name = reinterpret_cast<const char*>(at + kFixedSize);
    fileName.assign(name, fileNameLength);
    extraField.assign(name + fileNameLength, extraFieldLength);
    fileComment.assign(name + fileNameLength + extraFieldLength, fileCommentLength);

    const uint8_t* block = nullptr;
    uint32_t blockSize = 0;
    if (!findZip64Block(at + kFixedSize + fileNameLength, extraFieldLength, block, blockSize))
        return false;
    if (block) {
        Zip64BlockCursor cursor(block, blockSize);
        if (!cursor.takeIfSentinel(uncompressedSize) || !cursor.takeIfSentinel(compressedSize) ||
            !cursor.takeIfSentinel(localHeaderOffset) || !cursor.takeDiskIfSentinel(diskNumberStart))
            return false;
    }

    length = total;
    return true;
}

bool ZipEntryInfo::isDirectory() const
{
    if (!fileName.empty() && fileName.back() == '/')
        return true;
    if (externalAttributes & kDosDirectoryAttribute)
        return true;
    return (externalAttributes & kUnixTypeMask) == kUnixTypeDirectory;
}

bool ZipEntryInfo::isSymlink() const
{
    return (externalAttributes & kUnixTypeMask) == kUnixTypeSymlink;
}
