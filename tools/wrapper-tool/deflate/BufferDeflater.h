#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// Deflates one whole entry held in memory into a raw deflate stream, which is
// what the stub's inflate reads. Natively this is libdeflate (levels 1-12);
// the Windows build, which has no libdeflate, uses zlib (levels above 9 act
// as 9). The strongest level, 12, also tries a literals-only encoding and
// keeps the smaller, as do levels 10 and 11 where it may win (HuffmanOnly.h).
// One instance per worker thread.
class BufferDeflater {
public:
    explicit BufferDeflater(int level);
    ~BufferDeflater();
    BufferDeflater(const BufferDeflater&) = delete;
    BufferDeflater& operator=(const BufferDeflater&) = delete;

    bool ready() const { return state_ != nullptr; }
    // Fills `out` and returns true when the result is smaller than `size`;
    // false when it would not be (the entry is then stored).
    bool deflate(const uint8_t* data, size_t size, std::vector<uint8_t>& out);

    static const int kStrongestLevel = 12;
    // libdeflate's near-optimal parsing starts here; its cost model starts
    // afresh with every buffer, so a chunk may lose to literals only.
    static const int kNearOptimalLevel = 10;

private:
    // With `out` holding the normal result (empty when it did not shrink),
    // replaces it by a smaller literals-only one (see the class comment).
    bool tryHuffmanOnly(const uint8_t* data, size_t size, std::vector<uint8_t>& out) const;

    void* state_ = nullptr;
    int level_;
    int requestedLevel_;
};

// CRC-32 as ZIP uses it, continued from `crc` (0 to start).
uint32_t entryCrc32(uint32_t crc, const uint8_t* data, size_t size);

// The highest level the build's deflater honours, and its name and version.
int strongestDeflateLevel();
const char* deflaterName();
