#include "pack/SolidPlan.h"

#include <algorithm>

namespace {

uint64_t sum(const std::vector<uint64_t>& sizes, size_t first, size_t end)
{
    uint64_t total = 0;
    for (size_t i = first; i < end; ++i)
        total += sizes[i];
    return total;
}

// Files from `first` until `target` bytes are reached (the file that reaches
// it included), never past kMaxSolidBlockFiles.
size_t takeUntil(const std::vector<uint64_t>& sizes, size_t first, uint64_t target)
{
    uint64_t held = 0;
    size_t end = first;
    while (end < sizes.size() && held < target && held + sizes[end] <= kMaxSolidBlockFiles)
        held += sizes[end++];
    return end == first && first < sizes.size() ? first + 1 : end;
}

} // namespace

std::vector<SolidCut> planSolidBlocks(const std::vector<uint64_t>& sizes, const SolidOptions& options)
{
    std::vector<SolidCut> cuts;
    if (sizes.empty())
        return cuts;
    const uint64_t total = sum(sizes, 0, sizes.size());
    size_t at = 0;
    if (options.prefixPercent > 0) {
        const uint64_t share = total / 100 * std::min<uint32_t>(options.prefixPercent, 100);
        const size_t end = takeUntil(sizes, 0, share == 0 ? 1 : share);
        cuts.push_back(SolidCut{0, end, true});
        at = end;
    }
    const uint64_t target = std::max<uint64_t>(std::min(options.blockSize, kMaxSolidBlockFiles), 1);
    const uint64_t rest = sum(sizes, at, sizes.size());
    // Blocks of even size: as many as `target` asks for, each about rest / n.
    const uint64_t count = (rest + target - 1) / target;
    const uint64_t even = count == 0 ? target : (rest + count - 1) / count;
    while (at < sizes.size()) {
        const size_t end = takeUntil(sizes, at, even);
        cuts.push_back(SolidCut{at, end, false});
        at = end;
    }
    // A lone block refers to nothing: it is its own.
    if (cuts.size() == 1)
        cuts[0].isPrefix = false;
    return cuts;
}
