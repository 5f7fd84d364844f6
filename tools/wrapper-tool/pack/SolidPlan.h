#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// How `pack --solid` cuts the payload's files into solid blocks
// (docs/solid-blocks.md). The cut depends only on the files' sizes and
// order, never on the thread count, so the same folder gives the same bytes.
struct SolidOptions {
    // Chosen on the bench's real-PE payload (docs/solid-blocks.md): the
    // smallest installer whose pack is no slower than 7-Zip's.
    int level = 19;              // zstd level, 1 to 22
    uint32_t prefixPercent = 35; // the first block's share, which every other block refers to
    uint64_t blockSize = uint64_t(40) << 20; // the other blocks' target size
    unsigned threads = 1;
};

// Files up to this size go into blocks (their filtered form must fit one);
// larger ones are deflated as entries of their own.
const uint64_t kMaxSolidFileSize = uint64_t(48) << 20;
// A block is closed before it passes this many bytes of files; their
// filtered forms are kept within the decoded block's limit (SolidBlockBuild).
const uint64_t kMaxSolidBlockFiles = uint64_t(62) << 20;

struct SolidCut {
    size_t first = 0; // index into the sizes given
    size_t end = 0;   // one past the last
    bool isPrefix = false;
};

// Consecutive runs of `sizes` (every size > 0 and <= kMaxSolidFileSize):
// with a prefix share, the first block takes files until it holds that share
// of the bytes; the rest go into blocks of about `blockSize`, evened out so
// that the last one is not a sliver.
std::vector<SolidCut> planSolidBlocks(const std::vector<uint64_t>& sizes, const SolidOptions& options);
