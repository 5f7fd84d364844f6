#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// What SHA-1 and SHA-256 share: 64-byte blocks, big-endian length padding
// and 32-bit state words read out as lowercase hex.
class BlockHash {
public:
    virtual ~BlockHash() = default;
    void update(const uint8_t* data, size_t size);

protected:
    virtual void block(const uint8_t* data) = 0;
    // Pads, runs the last block(s) and returns `words` state words as hex.
    std::string finish(const uint32_t* state, int words);

private:
    uint8_t buffer_[64];
    size_t buffered_ = 0;
    uint64_t length_ = 0;
};
