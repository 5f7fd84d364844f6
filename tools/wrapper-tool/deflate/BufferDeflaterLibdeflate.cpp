#include "deflate/BufferDeflater.h"

#include <libdeflate.h>

BufferDeflater::BufferDeflater(int level) : level_(level), requestedLevel_(level)
{
    state_ = libdeflate_alloc_compressor(level_);
}

BufferDeflater::~BufferDeflater()
{
    if (state_ != nullptr)
        libdeflate_free_compressor(static_cast<libdeflate_compressor*>(state_));
}

bool BufferDeflater::deflate(const uint8_t* data, size_t size, std::vector<uint8_t>& out)
{
    if (size < 2)
        return false;
    // Room for one byte less than the input: libdeflate answers 0 when the
    // result does not fit, which is exactly "does not shrink".
    out.resize(size - 1);
    size_t produced = libdeflate_deflate_compress(static_cast<libdeflate_compressor*>(state_), data,
                                                  size, out.data(), out.size());
    if (produced == 0)
        out.clear();
    else
        out.resize(produced);
    return tryHuffmanOnly(data, size, out);
}

uint32_t entryCrc32(uint32_t crc, const uint8_t* data, size_t size)
{
    return libdeflate_crc32(crc, data, size);
}

int strongestDeflateLevel() { return 12; }

const char* deflaterName() { return "libdeflate " LIBDEFLATE_VERSION_STRING; }
