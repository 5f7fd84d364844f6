#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// Deflates with literals only (zlib's Huffman-only strategy). On data whose
// repeats are too short to pay for a match, such as packed tables or
// compressed-looking sections of binaries, this beats every match finder;
// the strongest level tries it beside the normal encoding and keeps the
// smaller, and the near-optimal levels (10, 11) where the data's entropy says
// it may win. True, with `out` filled, only when the result is below `limit`.
bool huffmanOnlyDeflate(const uint8_t* data, size_t size, size_t limit, std::vector<uint8_t>& out);

// The data's order-0 entropy in bytes: no literals-only encoding with one
// code for all of it comes out smaller (a few blocks with codes of their own
// may, slightly).
size_t literalsLowerBound(const uint8_t* data, size_t size);
