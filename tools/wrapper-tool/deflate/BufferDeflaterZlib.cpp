#include "deflate/BufferDeflater.h"

#include <climits>

#include <zlib.h>

BufferDeflater::BufferDeflater(int level) : level_(level > 9 ? 9 : level), requestedLevel_(level)
{
    z_stream* stream = new z_stream();
    if (deflateInit2(stream, level_, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        delete stream;
        return;
    }
    state_ = stream;
}

BufferDeflater::~BufferDeflater()
{
    if (state_ != nullptr) {
        deflateEnd(static_cast<z_stream*>(state_));
        delete static_cast<z_stream*>(state_);
    }
}

bool BufferDeflater::deflate(const uint8_t* data, size_t size, std::vector<uint8_t>& out)
{
    z_stream* z = static_cast<z_stream*>(state_);
    if (size < 2 || size > UINT_MAX || deflateReset(z) != Z_OK)
        return false;
    out.resize(size - 1);
    z->next_in = const_cast<uint8_t*>(data);
    z->avail_in = uInt(size);
    z->next_out = out.data();
    z->avail_out = uInt(out.size());
    // Z_STREAM_END only when the whole result fit in fewer bytes than the input.
    if (::deflate(z, Z_FINISH) != Z_STREAM_END)
        out.clear();
    else
        out.resize(out.size() - z->avail_out);
    return tryHuffmanOnly(data, size, out);
}

uint32_t entryCrc32(uint32_t crc, const uint8_t* data, size_t size)
{
    while (size > 0) {
        uInt chunk = size > (1u << 30) ? (1u << 30) : uInt(size);
        crc = uint32_t(crc32(crc, data, chunk));
        data += chunk;
        size -= chunk;
    }
    return crc;
}

int strongestDeflateLevel() { return 9; }

const char* deflaterName() { return "zlib " ZLIB_VERSION; }
