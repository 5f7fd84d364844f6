#include "FoldedNameSet_win.h"

#include <windows.h>

#include "Fnv1a.h"

namespace {

uint64_t hashOf(const std::wstring& name)
{
    uint64_t hash = kFnv1aStart;
    for (const wchar_t c : name) {
        hash = fnv1aByte(hash, static_cast<uint8_t>(c & 0xff));
        hash = fnv1aByte(hash, static_cast<uint8_t>(c >> 8));
    }
    return hash;
}

} // namespace

std::wstring FoldedNameSet::fold(const std::wstring& path)
{
    std::wstring folded = path;
    for (wchar_t& c : folded) {
        if (c == L'/')
            c = L'\\';
    }
    if (!folded.empty())
        CharLowerBuffW(&folded[0], static_cast<DWORD>(folded.size()));
    return folded;
}

// Open addressing with linear probing; the table is a power of two, at most
// half full, so a probe always ends at a free slot.
size_t FoldedNameSet::slotOf(const std::wstring& folded) const
{
    const size_t mask = slots.size() - 1;
    size_t i = static_cast<size_t>(hashOf(folded)) & mask;
    while (slots[i].used && slots[i].name != folded)
        i = (i + 1) & mask;
    return i;
}

void FoldedNameSet::grow()
{
    std::vector<Slot> old;
    old.swap(slots);
    slots.resize(old.empty() ? 64 : old.size() * 2);
    for (Slot& slot : old) {
        if (!slot.used)
            continue;
        Slot& moved = slots[slotOf(slot.name)];
        moved.name.swap(slot.name);
        moved.value = slot.value;
        moved.used = true;
    }
}

bool FoldedNameSet::insert(const std::wstring& folded, uint32_t value)
{
    if ((count + 1) * 2 > slots.size())
        grow();
    Slot& slot = slots[slotOf(folded)];
    if (slot.used)
        return false;
    slot.name = folded;
    slot.value = value;
    slot.used = true;
    ++count;
    return true;
}

const uint32_t* FoldedNameSet::find(const std::wstring& folded) const
{
    if (slots.empty())
        return nullptr;
    const Slot& slot = slots[slotOf(folded)];
    return slot.used ? &slot.value : nullptr;
}
