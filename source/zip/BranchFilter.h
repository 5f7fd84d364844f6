#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

const uint8_t kFilterNone = 0;
const uint8_t kFilterBranchSplit = 1;

std::vector<uint8_t> branchSplitEncode(const uint8_t* data, size_t size);

class BranchSplitDecoder {
public:
    static const size_t kMinPiece = 16;
    BranchSplitDecoder(const uint8_t* filtered, size_t filteredSize, uint64_t size);
    bool next(uint8_t* out, size_t capacity, size_t& produced);
    bool finished() const;
    const char* error() const;

private:
    const uint8_t* in_;
    size_t inSize_;
    uint64_t size_;
    uint64_t done_ = 0;
};

bool looksLikeCode(const uint8_t* data, size_t size);
