#pragma once
// For the fuzz targets: an input shown the way a mapped file is, through
// small windows that each replace the last.
#include <cstdint>
#include <cstring>
#include <memory>

#include "ZipByteSource.h"

// Shows the image through windows of an odd size, each view a fresh heap
// copy freed by the next: a pointer kept across views reads freed memory.
class CopiedWindows : public ZipByteSource
{
public:
    CopiedWindows(const uint8_t* image, uint64_t size) : image(image), imageSize(size) {}
    uint64_t size() const override { return imageSize; }
    uint32_t windowSize() const override { return 1531; }
    const uint8_t* view(uint64_t offset, uint32_t length) override
    {
        current.reset();
        if (length > windowSize() || offset > imageSize || length > imageSize - offset)
            return nullptr;
        current.reset(new uint8_t[length ? length : 1]);
        std::memcpy(current.get(), image + offset, length);
        return current.get();
    }

private:
    const uint8_t* image;
    uint64_t imageSize;
    std::unique_ptr<uint8_t[]> current;
};
