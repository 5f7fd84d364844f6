#include "deflate/HuffmanOnly.h"

#include "deflate/BufferDeflater.h"

#include <climits>
#include <cmath>

#include <zlib.h>

bool huffmanOnlyDeflate(const uint8_t* data, size_t size, size_t limit, std::vector<uint8_t>& out)
{
    if (size > UINT_MAX || limit < 2)
        return false;
    z_stream z{};
    if (deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_HUFFMAN_ONLY) != Z_OK)
        return false;
    out.resize(limit - 1);
    z.next_in = const_cast<uint8_t*>(data);
    z.avail_in = uInt(size);
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    const bool fits = deflate(&z, Z_FINISH) == Z_STREAM_END;
    const size_t produced = out.size() - z.avail_out;
    deflateEnd(&z);
    if (!fits) {
        out.clear();
        return false;
    }
    out.resize(produced);
    return true;
}

size_t literalsLowerBound(const uint8_t* data, size_t size)
{
    size_t counts[256] = {};
    for (size_t i = 0; i < size; ++i)
        ++counts[data[i]];
    double bits = 0;
    for (size_t count : counts)
        if (count != 0)
            bits -= double(count) * std::log2(double(count) / double(size));
    return size_t(bits / 8);
}

// Shared by both deflater backends: the literals-only try is zlib's either way.
bool BufferDeflater::tryHuffmanOnly(const uint8_t* data, size_t size, std::vector<uint8_t>& out) const
{
    std::vector<uint8_t> literals;
    const size_t best = out.empty() ? size : out.size();
    // Below the strongest level only where literals could win: the match
    // finder's result is larger than the data's order-0 entropy.
    const bool worthTrying = requestedLevel_ >= kStrongestLevel ||
                             (requestedLevel_ >= kNearOptimalLevel && literalsLowerBound(data, size) < best);
    if (worthTrying && huffmanOnlyDeflate(data, size, best, literals))
        out.swap(literals);
    if (out.empty()) {
        out.shrink_to_fit();
        return false;
    }
    return true;
}
