#include "ZipEntryData.h"

#include "ZipBytes.h"
#include "ZipRecords.h"

namespace {

const uint32_t kDescriptorSignature = zipformat::kDataDescriptorSignature;

bool descriptorAt(const uint8_t* at, uint64_t available, uint32_t sizeWidth,
                  const ZipEntryInfo& entry)
{
    if (available < 4 + 2 * static_cast<uint64_t>(sizeWidth))
        return false;
    const uint64_t compressed = sizeWidth == 4 ? readU32(at + 4) : readU64(at + 4);
    const uint64_t uncompressed =
        sizeWidth == 4 ? readU32(at + 4 + sizeWidth) : readU64(at + 4 + sizeWidth);
    return readU32(at) == entry.crc32 && compressed == entry.compressedSize &&
           uncompressed == entry.uncompressedSize;
}

} // namespace

bool locateEntryData(ZipArchiveBytes& archive, const ZipEntryInfo& entry, ZipEntryData& out)
{
    if (entry.localHeaderOffset >= archive.size())
        return false;
    const uint64_t available = archive.size() - entry.localHeaderOffset;
    std::vector<uint8_t> scratch;
    uint32_t got = 0;
    const uint8_t* header = archive.readRecord(entry.localHeaderOffset, ZipLocalHeader::kFixedSize,
                                               {ZipLocalHeader::kNameLengthAt,
                                                ZipLocalHeader::kExtraLengthAt},
                                               got, scratch);
    ZipLocalHeader local;
    uint32_t headerLength = 0;
    if (header == nullptr || !local.parse(header, got, headerLength))
        return false;
    const uint64_t dataAvailable = available - headerLength;

    // With a data descriptor the local sizes are zero; the directory has them.
    const bool sizesFollow = ((local.flags | entry.flags) & kFlagDataDescriptor) != 0;
    uint64_t size = 0;
    switch (local.compressionMethod) {
    case kMethodStored:
        size = sizesFollow ? entry.compressedSize : local.compressedSize;
        break;
    case kMethodDeflated:
    case kMethodSolid:
        size = entry.compressedSize;
        break;
    default:
        // Nothing is read for an unknown method.
        break;
    }
    if (size > dataAvailable)
        return false;
    out.headerOffset = entry.localHeaderOffset;
    out.dataOffset = entry.localHeaderOffset + headerLength;
    out.dataSize = size;
    out.method = local.compressionMethod;
    out.descriptorFollows = sizesFollow && (local.compressionMethod == kMethodStored ||
                                            local.compressionMethod == kMethodDeflated);
    return true;
}

bool dataDescriptorMatches(const uint8_t* at, uint64_t available, const ZipEntryInfo& entry)
{
    for (uint32_t sizeWidth : {4u, 8u}) {
        if (available >= 4 && readU32(at) == kDescriptorSignature &&
            descriptorAt(at + 4, available - 4, sizeWidth, entry))
            return true;
        if (descriptorAt(at, available, sizeWidth, entry))
            return true;
    }
    return false;
}
