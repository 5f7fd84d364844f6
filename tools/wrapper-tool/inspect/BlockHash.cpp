#include "inspect/BlockHash.h"

#include <cstring>

void BlockHash::update(const uint8_t* data, size_t size)
{
    length_ += size;
    while (size > 0) {
        if (buffered_ == 0 && size >= 64) {
            block(data);
            data += 64;
            size -= 64;
            continue;
        }
        const size_t take = 64 - buffered_ < size ? 64 - buffered_ : size;
        std::memcpy(buffer_ + buffered_, data, take);
        buffered_ += take;
        data += take;
        size -= take;
        if (buffered_ == 64) {
            block(buffer_);
            buffered_ = 0;
        }
    }
}

std::string BlockHash::finish(const uint32_t* state, int words)
{
    const uint64_t bits = length_ * 8;
    uint8_t pad[72] = {0x80};
    const size_t padSize = (buffered_ < 56 ? 56 : 120) - buffered_;
    for (int i = 0; i < 8; ++i)
        pad[padSize + i] = uint8_t(bits >> (56 - 8 * i));
    update(pad, padSize + 8);
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (int i = 0; i < words; ++i)
        for (int shift = 28; shift >= 0; shift -= 4)
            hex += kHex[(state[i] >> shift) & 0xF];
    return hex;
}
