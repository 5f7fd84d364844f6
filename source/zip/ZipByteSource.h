#pragma once
#include <cstdint>
#include <vector>

// Where the reader gets the archive's bytes: a mapped file seen through a
// window that moves, or a buffer in memory. A pointer from view() is valid
// only until the next call to view(), so nothing may keep one across calls.
class ZipByteSource
{
public:
    virtual ~ZipByteSource() = default;

    virtual uint64_t size() const = 0;
    // The longest range one view() can hand out.
    virtual uint32_t windowSize() const = 0;
    // Bytes [offset, offset + length) in place; null when the range passes
    // size() or windowSize(), or the platform refuses the view.
    virtual const uint8_t* view(uint64_t offset, uint32_t length) = 0;
};

// A buffer that is already in memory; every range of it is one view.
class ZipMemorySource : public ZipByteSource
{
public:
    ZipMemorySource() = default;
    ZipMemorySource(const uint8_t* data, uint64_t size) : data_(data), size_(data ? size : 0) {}

    uint64_t size() const override { return size_; }
    uint32_t windowSize() const override { return 0xFFFFFFFFu; }
    const uint8_t* view(uint64_t offset, uint32_t length) override
    {
        if (offset > size_ || length > size_ - offset)
            return nullptr;
        return data_ + offset;
    }

private:
    const uint8_t* data_ = nullptr;
    uint64_t size_ = 0;
};

// Bytes [offset, offset + length) of `source`: in place when they fit one
// view, otherwise gathered window by window into `scratch` (a record larger
// than a test's tiny window). Null when any part cannot be read.
const uint8_t* readSourceBytes(ZipByteSource& source, uint64_t offset, uint32_t length,
                               std::vector<uint8_t>& scratch);
