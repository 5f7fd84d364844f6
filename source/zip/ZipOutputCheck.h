#pragma once
#include <cstdint>

#include "ZipReaderCallback.h"

// Passes an entry's bytes to the sink while counting them and computing their
// CRC-32, so that the extraction can compare both with the directory entry.
// Output that would pass the declared size is refused before it reaches the
// sink: a lying size must not fill the disk.
class ZipOutputCheck
{
public:
    ZipOutputCheck(uint64_t expectedSize, uint32_t expectedCrc)
        : expectedSize(expectedSize), expectedCrc(expectedCrc)
    {
    }

    // False when the bytes would pass the declared size or the sink refuses them.
    bool deliver(ZipReaderCallback& sink, const uint8_t* data, uint32_t size);
    // True when exactly the declared size arrived with the declared CRC.
    bool matches() const { return delivered == expectedSize && crc == expectedCrc; }

    uint64_t deliveredBytes() const { return delivered; }
    uint32_t crc32() const { return crc; }

private:
    uint64_t expectedSize;
    uint32_t expectedCrc;
    uint64_t delivered = 0;
    uint32_t crc = 0;
};
