#pragma once
#include <cstdint>

#include "ZipReaderCallback.h"

// A sink that writes nothing: it counts an entry's bytes and computes their
// CRC-32, so an installer can be checked without unpacking it.
class CountingSink : public ZipReaderCallback {
public:
    bool write(const uint8_t* data, uint32_t size) override;
    bool finish() override;

    uint64_t bytes() const { return bytes_; }
    uint32_t crc() const { return crc_; }
    bool finished() const { return finished_; }

private:
    uint64_t bytes_ = 0;
    uint32_t crc_ = 0;
    bool finished_ = false;
};
