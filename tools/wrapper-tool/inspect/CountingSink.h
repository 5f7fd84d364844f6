#pragma once
#include <cstdint>

#include "ZipReaderCallback.h"

// A sink that writes nothing, so an installer can be checked without
// unpacking it; the reader itself holds the bytes to the directory's size
// and CRC-32.
class CountingSink : public ZipReaderCallback {
public:
    bool write(const uint8_t* data, uint32_t size) override;
    bool finish() override;

    uint64_t bytes() const { return bytes_; }

private:
    uint64_t bytes_ = 0;
};
