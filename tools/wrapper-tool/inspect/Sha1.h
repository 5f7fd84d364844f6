#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "inspect/BlockHash.h"

// SHA-1, for certificate thumbprints only (the name Windows shows and
// signtool /sha1 takes); nothing is trusted on the strength of it.
class Sha1 : public BlockHash {
public:
    Sha1();
    std::string hexDigest() { return finish(state_, 5); }

private:
    void block(const uint8_t* data) override;

    uint32_t state_[5];
};
