#pragma once
#include <cstdint>
#include <vector>

// A range of bytes in the archive, [begin, end).
struct ZipSpan
{
    uint64_t begin;
    uint64_t end;
};

// True when no two of the spans share a byte. Sorts them by their start, so
// a large list costs O(n log n). Overlapping local records are how a small
// archive makes its entries unpack the same compressed data over and over.
bool spansAreDisjoint(std::vector<ZipSpan>& spans);
