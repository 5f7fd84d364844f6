#include "AddressFilter.h"

#include "ZipBytes.h"

namespace {

void storeLe32(uint8_t* at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = uint8_t(value >> (8 * i));
}

// Converts (sign +1) or restores (sign -1) every candidate whose scan position
// lies in [from, end) of the file, `bytes` holding the file from offset `base`
// up to at least `end` + kAddressScanBytes - 1 or the file's end; returns the
// next scan position.
uint64_t convert(uint8_t* bytes, uint64_t base, uint64_t from, uint64_t end, int sign)
{
    uint8_t* at = bytes + (from - base);
    uint8_t* const stop = bytes + (end - base);
    while (at < stop) {
        // Most positions fail this cheaper test first: every candidate has a
        // RIP ModRM byte at +2, or is FF with one at +1.
        if ((at[2] & 0xC7) != 0x05 && at[0] != 0xFF) {
            ++at;
            continue;
        }
        const size_t field = addressFieldAt(at);
        if (field == 0) {
            ++at;
            continue;
        }
        const uint32_t next = uint32_t(base + uint64_t(at - bytes) + field + 4);
        const uint32_t stored = readU32(at + field);
        storeLe32(at + field, sign > 0 ? stored + next : stored - next);
        at += field + 4;
    }
    return base + uint64_t(at - bytes);
}

} // namespace

void addressEncode(uint8_t* data, size_t size)
{
    if (size >= kAddressScanBytes)
        convert(data, 0, 0, size - kAddressScanBytes + 1, +1);
}

size_t AddressRestorer::restore(uint8_t* piece, size_t count, bool last)
{
    const uint64_t have = released + count;
    // Scan positions the encoder looked at: those with a whole field's room before the file's end.
    const uint64_t scanEnd = size >= kAddressScanBytes ? size - kAddressScanBytes + 1 : 0;
    // Which of them this piece can decide: all of its bytes must be here.
    const uint64_t decidable = have >= kAddressScanBytes - 1 ? have - (kAddressScanBytes - 1) : 0;
    const uint64_t end = decidable < scanEnd ? decidable : scanEnd;
    if (scan < end)
        scan = convert(piece, released, scan, end, -1);
    // Bytes before the scan position never change again.
    const uint64_t final = last || scan >= scanEnd ? have : scan;
    const size_t done = size_t(final - released);
    released = final;
    return done;
}
