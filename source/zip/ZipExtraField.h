#pragma once
#include <cstdint>

#include "ZipFormat.h"

// The extra field of a directory or local header: blocks of a 2-byte ID, a
// 2-byte size d and d bytes of data.

using zipformat::kSentinel16;
using zipformat::kSentinel32;
using zipformat::kZip64ExtraId;

// Finds the first block with ID `wanted`, and with `count` how many there are.
// `data`/`size` stay null/0 when there is none. False when a block claims
// more bytes than the extra field holds.
bool findExtraBlock(const uint8_t* extra, uint32_t extraLength, uint16_t wanted, const uint8_t*& data,
                    uint32_t& size, uint32_t* count);

// Finds the first Zip64 block. `data`/`size` stay null/0 when there is none.
// False when a block claims more bytes than the extra field holds; a tail of
// fewer than 4 bytes (padding some tools leave) ends the walk quietly.
bool findZip64Block(const uint8_t* extra, uint32_t extraLength, const uint8_t*& data,
                    uint32_t& size);

// Reads the 64-bit values of a Zip64 block one after another, refusing to
// run past the block's end.
class Zip64BlockCursor
{
public:
    Zip64BlockCursor(const uint8_t* data, uint32_t size) : at(data), left(size) {}

    // Replaces `value` with the next 8 bytes when it holds the 32-bit sentinel.
    bool takeIfSentinel(uint64_t& value);
    // The 4-byte disk number, when the 16-bit field holds its sentinel.
    bool takeDiskIfSentinel(uint16_t& value);

private:
    const uint8_t* at;
    uint32_t left;
};
