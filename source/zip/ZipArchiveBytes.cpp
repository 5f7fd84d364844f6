#include "ZipArchiveBytes.h"

#include "ZipBytes.h"

const uint8_t* ZipArchiveBytes::read(uint64_t offset, uint32_t length,
                                     std::vector<uint8_t>& scratch)
{
    if (source_ == nullptr || offset > size_ || length > size_ - offset)
        return nullptr;
    const uint8_t* at = readSourceBytes(*source_, base_ + offset, length, scratch);
    if (at == nullptr)
        readFailed_ = true;
    return at;
}

const uint8_t* ZipArchiveBytes::readUpTo(uint64_t offset, uint32_t length, uint32_t& got,
                                         std::vector<uint8_t>& scratch)
{
    got = 0;
    if (offset > size_)
        return nullptr;
    const uint64_t left = size_ - offset;
    const uint32_t wanted = left < length ? static_cast<uint32_t>(left) : length;
    const uint8_t* at = read(offset, wanted, scratch);
    if (at != nullptr)
        got = wanted;
    return at;
}

const uint8_t* ZipArchiveBytes::readRecord(uint64_t offset, uint32_t fixedSize,
                                           std::initializer_list<uint32_t> lengthFields,
                                           uint32_t& got, std::vector<uint8_t>& scratch)
{
    const uint8_t* fixed = readUpTo(offset, fixedSize, got, scratch);
    if (fixed == nullptr || got < fixedSize)
        return fixed;
    uint32_t total = fixedSize;
    for (uint32_t field : lengthFields)
        total += readU16(fixed + field);
    if (total == fixedSize)
        return fixed;
    return readUpTo(offset, total, got, scratch);
}
