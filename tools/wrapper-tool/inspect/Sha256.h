#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "inspect/BlockHash.h"

// SHA-256 of a file, as lowercase hex, read in pieces; empty on a read error.
std::string fileSha256(const std::string& path);

class Sha256 : public BlockHash {
public:
    Sha256();
    std::string hexDigest() { return finish(state_, 8); }

private:
    void block(const uint8_t* data) override;

    uint32_t state_[8];
};
