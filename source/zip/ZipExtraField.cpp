#include "ZipExtraField.h"

#include "ZipBytes.h"

bool findExtraBlock(const uint8_t* extra, uint32_t extraLength, uint16_t wanted, const uint8_t*& data,
                    uint32_t& size, uint32_t* count)
{
    data = nullptr;
    size = 0;
    if (count != nullptr)
        *count = 0;
    uint32_t pos = 0;
    while (extraLength - pos >= 4) {
        const uint16_t id = readU16(extra + pos);
        const uint32_t blockSize = readU16(extra + pos + 2);
        if (blockSize > extraLength - pos - 4)
            return false;
        if (id == wanted) {
            if (data == nullptr) {
                data = extra + pos + 4;
                size = blockSize;
            }
            if (count == nullptr)
                return true;
            ++*count;
        }
        pos += 4 + blockSize;
    }
    return true;
}

bool findZip64Block(const uint8_t* extra, uint32_t extraLength, const uint8_t*& data,
                    uint32_t& size)
{
    return findExtraBlock(extra, extraLength, kZip64ExtraId, data, size, nullptr);
}

bool Zip64BlockCursor::takeIfSentinel(uint64_t& value)
{
    if (value != kSentinel32)
        return true;
    if (left < 8)
        return false;
    value = readU64(at);
    at += 8;
    left -= 8;
    return true;
}

bool Zip64BlockCursor::takeDiskIfSentinel(uint16_t& value)
{
    if (value != kSentinel16)
        return true;
    if (left < 4)
        return false;
    value = static_cast<uint16_t>(readU32(at));
    at += 4;
    left -= 4;
    return true;
}
