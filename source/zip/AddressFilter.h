#pragma once
#include <cstddef>
#include <cstdint>

#include "AddressRule.h"

// The address filter (docs/solid-blocks.md): every RIP-relative disp32 that
// addressFieldAt() finds becomes the absolute offset it names (the field's end
// plus the displacement, modulo 2^32, little-endian), in place. Always
// reversible: the scan only ever looks at bytes it has not converted.
void addressEncode(uint8_t* data, size_t size);

// Undoes addressEncode() on a file that arrives in pieces. Each piece starts
// with the bytes the previous call did not release.
class AddressRestorer
{
public:
    explicit AddressRestorer(uint64_t size) : size(size) {}

    // Restores what it can of the `count` bytes at `piece` (the file's bytes
    // from where the last release ended) and returns how many of them are
    // final. `last`: the piece ends the file, so all of it is released.
    size_t restore(uint8_t* piece, size_t count, bool last);

private:
    uint64_t size;
    uint64_t released = 0; // the file offset of piece[0]
    uint64_t scan = 0;     // the next file offset the rule looks at
};
