#pragma once
// Decodes a filtered form through pieces of one size, as the readers do, for
// the filter tests: BranchSplitDecoder and SolidFilterDecoder alike.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

struct Decoded
{
    std::vector<uint8_t> bytes;
    bool ok = true; // false once next() refused
    bool finished = false;
    std::string error;
};

template <typename Decoder>
Decoded decodeInPieces(Decoder& decoder, size_t capacity)
{
    Decoded result;
    std::vector<uint8_t> piece(capacity);
    for (size_t produced = 1; result.ok && produced != 0;) {
        result.ok = decoder.next(piece.data(), capacity, produced);
        EXPECT_LE(produced, capacity);
        result.bytes.insert(result.bytes.end(), piece.begin(), piece.begin() + produced);
    }
    result.finished = decoder.finished();
    result.error = decoder.error();
    return result;
}
