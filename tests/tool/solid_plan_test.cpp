// How pack --solid cuts files into blocks: the prefix share, even blocks
// cut at the nearest file border, the per-block limit, and a file larger
// than a target still placed.
#include <gtest/gtest.h>

#include "pack/SolidPlan.h"

namespace {

const uint64_t MiB = uint64_t(1) << 20;

std::vector<uint64_t> blockBytes(const std::vector<uint64_t>& sizes, const std::vector<SolidCut>& cuts)
{
    std::vector<uint64_t> bytes;
    size_t next = 0;
    for (const SolidCut& cut : cuts) {
        EXPECT_EQ(cut.first, next); // consecutive, nothing left out
        next = cut.end;
        uint64_t total = 0;
        for (size_t i = cut.first; i < cut.end; ++i)
            total += sizes[i];
        bytes.push_back(total);
    }
    EXPECT_EQ(next, sizes.size());
    return bytes;
}

} // namespace

TEST(SolidPlan, BlocksAreCutEvenlyAtFileBorders)
{
    struct Case {
        const char* name;
        std::vector<uint64_t> sizes;
        uint32_t prefix;
        uint64_t block;
        std::vector<uint64_t> expected; // bytes per block, the first the prefix when asked
        bool prefixFirst;
    };
    const std::vector<uint64_t> hundred(100, MiB); // 100 files of 1 MiB
    const Case cases[] = {
        {"25 % prefix, then 3 even blocks", hundred, 25, 30 * MiB, {25 * MiB, 25 * MiB, 25 * MiB, 25 * MiB}, true},
        {"no prefix", hundred, 0, 40 * MiB, {33 * MiB, 34 * MiB, 33 * MiB}, false},
        {"the last block is no sliver", {3 * MiB, 3 * MiB, 3 * MiB, 3 * MiB, 1 * MiB}, 0, 6 * MiB,
         {3 * MiB, 6 * MiB, 4 * MiB}, false},
        {"a file above the target still goes in", {10 * MiB, 1 * MiB}, 0, 4 * MiB, {10 * MiB, 1 * MiB}, false},
        {"a prefix share above the block limit stops at it", hundred, 90, 10 * MiB,
         {62 * MiB, 10 * MiB, 9 * MiB, 10 * MiB, 9 * MiB}, true},
        {"one block alone is no prefix", {MiB, MiB}, 90, 60 * MiB, {2 * MiB}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SolidOptions options;
        options.prefixPercent = c.prefix;
        options.blockSize = c.block;
        const std::vector<SolidCut> cuts = planSolidBlocks(c.sizes, options);
        EXPECT_EQ(blockBytes(c.sizes, cuts), c.expected);
        ASSERT_FALSE(cuts.empty());
        EXPECT_EQ(cuts[0].isPrefix, c.prefixFirst);
        for (size_t i = 1; i < cuts.size(); ++i)
            EXPECT_FALSE(cuts[i].isPrefix);
    }
}
