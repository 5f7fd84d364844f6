#include "ZipSpans.h"

#include <cstdlib>

namespace {

// qsort rather than std::sort: the C runtime's costs the stub no code.
int byBegin(const void* a, const void* b)
{
    const uint64_t x = static_cast<const ZipSpan*>(a)->begin;
    const uint64_t y = static_cast<const ZipSpan*>(b)->begin;
    return x < y ? -1 : x > y ? 1 : 0;
}

} // namespace

bool spansAreDisjoint(std::vector<ZipSpan>& spans)
{
    if (!spans.empty())
        std::qsort(spans.data(), spans.size(), sizeof(ZipSpan), byBegin);
    uint64_t reached = 0;
    for (const ZipSpan& span : spans) {
        if (span.begin == span.end)
            continue;
        if (span.begin < reached)
            return false;
        reached = span.end;
    }
    return true;
}
