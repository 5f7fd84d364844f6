#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "BranchSplitRule.h"

// The filtered form of `size` bytes (self-describing: a small header gives the stream
// lengths). x86 CALL rel32 operands whose target lands inside the file become absolute
// big-endian targets in a stream of their own, so that calls to one function look alike.
std::vector<uint8_t> branchSplitEncode(const uint8_t* data, size_t size);
// The same with another variant of the rule; the bench compares them.
std::vector<uint8_t> branchSplitEncode(const uint8_t* data, size_t size, const BranchSplitVariant& variant);

// Rebuilds the original bytes piece by piece, never reading outside `filtered`, never
// producing more than `size` bytes: a lying or damaged form fails with a short reason.
class BranchSplitDecoder
{
public:
    static const size_t kMinPiece = 16; // the smallest capacity next() accepts

    BranchSplitDecoder(const uint8_t* filtered, size_t filteredSize, uint64_t size);
    BranchSplitDecoder(const uint8_t* filtered, size_t filteredSize, uint64_t size,
                       const BranchSplitVariant& variant);

    // The next bytes into `out` (up to `capacity`); false on malformed input.
    bool next(uint8_t* out, size_t capacity, size_t& produced);
    // True once `size` bytes came out and every stream was consumed exactly.
    bool finished() const;
    // Why next() failed or finished() is false; empty while nothing is wrong.
    const char* error() const;

private:
    bool fail(const char* why);
    bool takeFlag(bool& converted);

    BranchSplitVariant variant;
    const uint8_t* code = nullptr;
    const uint8_t* flags = nullptr;
    const uint8_t* targets = nullptr;
    size_t codeLength = 0;
    size_t flagsLength = 0;
    size_t targetsLength = 0;
    size_t codeAt = 0;
    size_t flagBitsTaken = 0;
    size_t targetsAt = 0;
    uint64_t size;
    uint64_t position = 0;
    uint32_t previousTarget = 0;
    const char* failure = nullptr;
};
