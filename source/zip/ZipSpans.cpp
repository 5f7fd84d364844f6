#include "ZipSpans.h"

#include <algorithm>

bool spansAreDisjoint(std::vector<ZipSpan>& spans)
{
    std::sort(spans.begin(), spans.end(),
              [](const ZipSpan& a, const ZipSpan& b) { return a.begin < b.begin; });
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
