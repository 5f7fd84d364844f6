#include "PeImage.h"

#include <cstring>

// In a file of its own: only the tool asks this, and the stub's static link
// then leaves it out.
bool isPeImage(const uint8_t* image, uint64_t size)
{
    if (image == nullptr || size < 0x40 || image[0] != 'M' || image[1] != 'Z')
        return false;
    const uint64_t pe = uint64_t(image[0x3C]) | uint64_t(image[0x3D]) << 8 |
                        uint64_t(image[0x3E]) << 16 | uint64_t(image[0x3F]) << 24;
    return pe >= 0x40 && pe + 4 <= size && std::memcmp(image + pe, "PE\0\0", 4) == 0;
}
