#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "AddressFilter.h"
#include "BranchFilter.h"

// The filters a solid member may name (docs/solid-blocks.md), which one a file
// gets, and the one way each is applied and undone.
const uint8_t kFilterNone = 0;
const uint8_t kFilterBranchSplit = 1;        // x86 code: the branch split
const uint8_t kFilterAddressBranchSplit = 2; // x86-64 code: the address filter, then the branch split
const uint8_t kLastSolidFilter = kFilterAddressBranchSplit;

// The filter worth applying to a file: by the bench, the branch split pays on
// x86 PE and ELF images and costs a little on anything else; the address
// filter pays on x86-64 ones and would garble i386 code's absolute operands.
uint8_t solidFilterFor(const uint8_t* data, size_t size);

// The filtered form of `size` bytes under `filter` (not kFilterNone).
std::vector<uint8_t> solidFilterEncode(uint8_t filter, const uint8_t* data, size_t size);

// Rebuilds a filtered file piece by piece (see BranchSplitDecoder), never
// producing more than `size` bytes.
class SolidFilterDecoder
{
public:
    // The smallest capacity next() accepts.
    static const size_t kMinPiece = BranchSplitDecoder::kMinPiece + kAddressScanBytes;

    SolidFilterDecoder(uint8_t filter, const uint8_t* filtered, size_t filteredSize, uint64_t size);

    bool next(uint8_t* out, size_t capacity, size_t& produced);
    bool finished() const;
    const char* error() const;

private:
    BranchSplitDecoder split;
    bool addresses;
    AddressRestorer restorer;
    // Bytes the restorer could not release yet: the start of the next piece.
    uint8_t carry[kAddressScanBytes];
    size_t carried = 0;
    const char* failure = nullptr;
};
