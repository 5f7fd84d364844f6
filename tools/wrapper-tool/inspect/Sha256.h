#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// SHA-256 of a file, as lowercase hex, read in pieces; empty on a read error.
std::string fileSha256(const std::string& path);

class Sha256 {
public:
    Sha256();
    void update(const uint8_t* data, size_t size);
    std::string hexDigest(); // finishes the hash

private:
    void block(const uint8_t* data);

    uint32_t state_[8];
    uint8_t buffer_[64];
    size_t buffered_ = 0;
    uint64_t length_ = 0;
};
