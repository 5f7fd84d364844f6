#include "PeSignature.h"

#include <cstring>

bool isPeImage(const uint8_t* image, uint64_t size)
{
    if (image == nullptr || size < 0x40 || image[0] != 'M' || image[1] != 'Z')
        return false;
    const uint64_t peOffset = uint64_t(image[0x3C]) | uint64_t(image[0x3D]) << 8 |
                              uint64_t(image[0x3E]) << 16 | uint64_t(image[0x3F]) << 24;
    return peOffset >= 0x40 && peOffset + 4 <= size && std::memcmp(image + peOffset, "PE\0\0", 4) == 0;
}
