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
    // As many blocks as `target` asks for, each cut at the file border
    // nearest to an even share, so no block is a sliver.
    const uint64_t count = std::max<uint64_t>((rest + target - 1) / target, 1);
    uint64_t passed = 0; // bytes of the rest before `at`
    for (uint64_t k = 1; at < sizes.size(); ++k) {
        const uint64_t goal = k >= count ? rest : rest / count * k;
        size_t end = at;
        uint64_t held = 0;
        while (end < sizes.size() && held + sizes[end] <= kMaxSolidBlockFiles && passed + held < goal) {
            const uint64_t before = passed + held;
            const uint64_t after = before + sizes[end];
            if (held != 0 && after > goal && after - goal > goal - before)
                break;
            held += sizes[end++];
        }
        if (end == at)
            held += sizes[end++];
        cuts.push_back(SolidCut{at, end, false});
        passed += held;
        at = end;
    }
    // A lone block refers to nothing: it is its own.
    if (cuts.size() == 1)
        cuts[0].isPrefix = false;
    return cuts;
}
