#include "CountingSink.h"

#include <zlib.h>

bool CountingSink::write(const uint8_t* data, uint32_t size)
{
    if (size != 0)
        crc_ = uint32_t(crc32(crc_, data, size));
    bytes_ += size;
    return true;
}

bool CountingSink::finish()
{
    finished_ = true;
    return true;
}
