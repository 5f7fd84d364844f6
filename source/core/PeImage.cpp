#include "PeImage.h"

namespace {

uint32_t read16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t read32(const uint8_t* p) { return read16(p) | read16(p + 2) << 16; }

const uint32_t kSecurityDirectory = 4;
const uint64_t kSectionHeaderSize = 40;

// Where the "PE\0\0" signature lies, when the MS-DOS header points at one.
bool peHeaderOffset(const uint8_t* image, uint64_t imageSize, uint64_t& pe)
{
    if (image == nullptr || imageSize < 0x40 || image[0] != 'M' || image[1] != 'Z')
        return false;
    pe = read32(image + 0x3C);
    // Signature (4), file header (20), optional header magic (2).
    return pe + 26 <= imageSize && read32(image + pe) == 0x00004550;
}

} // namespace

bool findDataDirectory(const uint8_t* image, uint64_t imageSize, uint32_t index, uint32_t& address,
                       uint32_t& size)
{
    uint64_t pe = 0;
    if (!peHeaderOffset(image, imageSize, pe))
        return false;
    const uint64_t optional = pe + 24;
    const uint32_t magic = read16(image + optional);
    uint64_t directories;
    uint64_t countField;
    if (magic == 0x10B) {          // PE32
        countField = optional + 92;
        directories = optional + 96;
    } else if (magic == 0x20B) {   // PE32+
        countField = optional + 108;
        directories = optional + 112;
    } else {
        return false;
    }
    if (countField + 4 > imageSize || read32(image + countField) <= index)
        return false;
    const uint64_t entry = directories + 8 * uint64_t(index);
    if (entry + 8 > imageSize)
        return false;
    address = read32(image + entry);
    size = read32(image + entry + 4);
    return address != 0 && size != 0;
}

// Only the tool reads sections; the stub's link drops this (-ffunction-sections).
bool fileOffsetOfRva(const uint8_t* image, uint64_t imageSize, uint32_t rva, uint64_t& offset)
{
    uint64_t pe = 0;
    if (!peHeaderOffset(image, imageSize, pe))
        return false;
    const uint32_t sectionCount = read16(image + pe + 6);
    const uint64_t table = pe + 24 + read16(image + pe + 20);
    for (uint32_t i = 0; i < sectionCount; ++i) {
        const uint64_t header = table + i * kSectionHeaderSize;
        if (header + kSectionHeaderSize > imageSize)
            return false;
        const uint32_t virtualSize = read32(image + header + 8);
        const uint32_t virtualAddress = read32(image + header + 12);
        const uint32_t rawSize = read32(image + header + 16);
        const uint32_t rawPointer = read32(image + header + 20);
        // Bytes past the raw data are zero-filled in memory and absent from the file.
        const uint32_t span = rawSize < virtualSize || virtualSize == 0 ? rawSize : virtualSize;
        if (rva >= virtualAddress && rva - virtualAddress < span) {
            offset = uint64_t(rawPointer) + (rva - virtualAddress);
            return offset < imageSize;
        }
    }
    return false;
}

bool findCertificateTable(const uint8_t* image, uint64_t imageSize, uint64_t& tableOffset,
                          uint64_t& tableSize)
{
    // The certificate table is the one directory given as a file offset.
    uint32_t offset = 0;
    uint32_t size = 0;
    if (!findDataDirectory(image, imageSize, kSecurityDirectory, offset, size))
        return false;
    tableOffset = offset;
    tableSize = size;
    return true;
}

uint64_t payloadSearchSize(const uint8_t* image, uint64_t imageSize)
{
    uint64_t offset = 0;
    uint64_t size = 0;
    if (!findCertificateTable(image, imageSize, offset, size) || offset > imageSize)
        return imageSize;
    return offset;
}
