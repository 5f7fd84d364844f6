#include "PeImage.h"

// In a file of its own: only the tool reads sections, and the stub's static
// link then leaves this out.
namespace {

uint32_t read16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t read32(const uint8_t* p) { return read16(p) | read16(p + 2) << 16; }

const uint64_t kSectionHeaderSize = 40;

} // namespace

bool fileOffsetOfRva(const uint8_t* image, uint64_t imageSize, uint32_t rva, uint64_t& offset)
{
    if (!isPeImage(image, imageSize))
        return false;
    const uint64_t pe = read32(image + 0x3C);
    if (pe + 24 > imageSize)
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
