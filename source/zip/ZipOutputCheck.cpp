#include "ZipOutputCheck.h"

#include <zlib.h>

bool ZipOutputCheck::deliver(ZipReaderCallback& sink, const uint8_t* data, uint32_t size)
{
    if (size > expectedSize - delivered)
        return false;
    crc = static_cast<uint32_t>(::crc32(crc, data, size));
    delivered += size;
    return sink.write(data, size);
}
