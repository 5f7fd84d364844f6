#pragma once
#include <cstdint>

// Where an extraction sends an entry's bytes, in order.
class ZipReaderCallback
{
public:
    // The next `size` bytes (possibly 0), valid only during the call.
    // False stops the extraction with failure.
    virtual bool write(const uint8_t* data, uint32_t size) = 0;
    // Called at most once, after all data arrived and was verified; its
    // result is the extraction's result.
    virtual bool finish() = 0;
    virtual ~ZipReaderCallback() = default;
};
