#include "NameCollision.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "Fnv1a.h"

namespace {

// A file or folder path that an entry makes: the whole name, or one of its
// folder prefixes. `hash` is of the folded path, so that the sort mostly
// compares numbers.
struct PathUse
{
    const char* text;
    size_t length;
    size_t entry;
    uint64_t hash;
    bool isFile;
};

bool isSeparator(char c)
{
    return c == '/' || c == '\\';
}

// Folded the way Windows compares names here: ASCII letters without case,
// both separators alike.
unsigned char fold(char c)
{
    if (c >= 'A' && c <= 'Z')
        return static_cast<unsigned char>(c - 'A' + 'a');
    if (c == '\\')
        return '/';
    return static_cast<unsigned char>(c);
}

int comparePaths(const PathUse& a, const PathUse& b)
{
    if (a.hash != b.hash)
        return a.hash < b.hash ? -1 : 1;
    const size_t common = std::min(a.length, b.length);
    for (size_t i = 0; i < common; ++i) {
        const unsigned char x = fold(a.text[i]);
        const unsigned char y = fold(b.text[i]);
        if (x != y)
            return x < y ? -1 : 1;
    }
    if (a.length != b.length)
        return a.length < b.length ? -1 : 1;
    return 0;
}

// Equal paths end up next to each other, in entry order. qsort rather than
// std::sort: the C runtime's costs the stub no code.
int byPathThenEntry(const void* a, const void* b)
{
    const PathUse& x = *static_cast<const PathUse*>(a);
    const PathUse& y = *static_cast<const PathUse*>(b);
    const int order = comparePaths(x, y);
    if (order != 0)
        return order;
    return x.entry < y.entry ? -1 : x.entry > y.entry ? 1 : 0;
}

size_t trimmedLength(const std::string& name)
{
    size_t length = name.size();
    while (length > 0 && isSeparator(name[length - 1]))
        --length;
    return length;
}

// `previous` is the entry before, or null. A folder that the previous entry
// already uses under the very same bytes is left out: it cannot be where
// the earliest collision is found, and payloads list many files per folder.
void addUses(const NamedEntry& named, const std::string* previous, size_t index,
             std::vector<PathUse>& uses)
{
    const std::string& name = *named.name;
    const size_t length = trimmedLength(name);
    size_t shared = 0;
    if (previous != nullptr) {
        // Only the previous entry's folders count, not its own name.
        const size_t limit = std::min(length, trimmedLength(*previous));
        while (shared < limit && name[shared] == (*previous)[shared])
            ++shared;
    }
    uint64_t hash = kFnv1aStart;
    for (size_t i = 0; i < length; ++i) {
        if (i > 0 && isSeparator(name[i]) && !isSeparator(name[i - 1]) && i >= shared)
            uses.push_back(PathUse{name.data(), i, index, hash, false});
        hash = fnv1aByte(hash, fold(name[i]));
    }
    if (length > 0)
        uses.push_back(PathUse{name.data(), length, index, hash, !named.isDirectory});
}

} // namespace

bool findNameCollision(const std::vector<NamedEntry>& entries, NameCollision& out)
{
    std::vector<PathUse> uses;
    uses.reserve(entries.size() * 2);
    for (size_t i = 0; i < entries.size(); ++i)
        addUses(entries[i], i > 0 ? entries[i - 1].name : nullptr, i, uses);
    if (!uses.empty())
        std::qsort(uses.data(), uses.size(), sizeof(PathUse), byPathThenEntry);

    bool found = false;
    for (size_t start = 0; start < uses.size();) {
        size_t end = start + 1;
        while (end < uses.size() && comparePaths(uses[start], uses[end]) == 0)
            ++end;
        // Uses of one path, in entry order: a later use collides with an
        // earlier one when either of the two is a file.
        const size_t earliest = uses[start].entry;
        const bool earliestIsFile = uses[start].isFile;
        for (size_t k = start + 1; k < end; ++k) {
            const PathUse& use = uses[k];
            if (use.entry == earliest)
                continue;
            if (use.isFile || earliestIsFile) {
                if (!found || use.entry < out.second) {
                    out.first = earliest;
                    out.second = use.entry;
                    found = true;
                }
                break;
            }
        }
        start = end;
    }
    return found;
}
