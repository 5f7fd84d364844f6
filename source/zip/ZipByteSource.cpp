#include "ZipByteSource.h"

#include <cstring>

const uint8_t* readSourceBytes(ZipByteSource& source, uint64_t offset, uint32_t length,
                               std::vector<uint8_t>& scratch)
{
    const uint32_t window = source.windowSize();
    if (length <= window)
        return source.view(offset, length);
    if (offset > source.size() || length > source.size() - offset)
        return nullptr;
    scratch.resize(length);
    for (uint32_t done = 0; done < length;) {
        const uint32_t piece = length - done < window ? length - done : window;
        const uint8_t* at = source.view(offset + done, piece);
        if (at == nullptr)
            return nullptr;
        std::memcpy(scratch.data() + done, at, piece);
        done += piece;
    }
    return scratch.data();
}
