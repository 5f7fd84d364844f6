#pragma once
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "ZipByteSource.h"

// The archive's part of a byte source: offsets count from the archive's first
// byte (past whatever it was appended to) and end where the searched image
// ends. Reads are cut at that end; the record parsers then refuse a record
// that does not fit, as they would at the end of a buffer.
class ZipArchiveBytes
{
public:
    ZipArchiveBytes() = default;
    ZipArchiveBytes(ZipByteSource& source, uint64_t base, uint64_t size)
        : source_(&source), base_(base), size_(size)
    {
    }

    uint64_t size() const { return size_; }
    uint32_t windowSize() const { return source_ ? source_->windowSize() : 0; }
    // True once the source refused bytes that lie inside the archive: what
    // failed then says nothing about the archive itself.
    bool readFailed() const { return readFailed_; }

    // Exactly `length` bytes at `offset`, in place when they fit one window;
    // null when they pass the end or cannot be read.
    const uint8_t* read(uint64_t offset, uint32_t length, std::vector<uint8_t>& scratch);
    // Up to `length` bytes at `offset`, fewer when the archive ends first;
    // `got` receives how many.
    const uint8_t* readUpTo(uint64_t offset, uint32_t length, uint32_t& got,
                            std::vector<uint8_t>& scratch);
    // A record of `fixedSize` bytes followed by variable parts whose 16-bit
    // lengths stand at `lengthFields` in its fixed part; `got` as for readUpTo.
    const uint8_t* readRecord(uint64_t offset, uint32_t fixedSize,
                              std::initializer_list<uint32_t> lengthFields, uint32_t& got,
                              std::vector<uint8_t>& scratch);

private:
    ZipByteSource* source_ = nullptr;
    uint64_t base_ = 0;
    uint64_t size_ = 0;
    bool readFailed_ = false;
};
