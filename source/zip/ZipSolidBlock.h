#pragma once
#include <cstddef>
#include <cstdint>

#include "ZipArchiveBytes.h"
#include "ZipEntryInfo.h"
#include "ZipReaderCallback.h"
#include "ZipSolidLayout.h"

// A decoded solid block, held whole: its files are cut out of it, and a
// block that others name as their prefix is read by their decoders.
class SolidBlockBytes {
public:
    SolidBlockBytes() = default;
    ~SolidBlockBytes() { delete[] data_; }
    SolidBlockBytes(const SolidBlockBytes&) = delete;
    SolidBlockBytes& operator=(const SolidBlockBytes&) = delete;

    // False when the memory cannot be had (a 32-bit stub's address space).
    bool allocate(size_t size);
    void release();
    uint8_t* data() { return data_; }
    const uint8_t* data() const { return data_; }
    size_t size() const { return size_; }

private:
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

// Decodes `block` (its frame is the data of entry `block.carrier`) into
// `out`, against `prefix` (the decoded prefix block) when it names one. The
// frame must declare the block's size, a checksum and a window within
// kMaxSolidWindowLog, and must end exactly where the carrier's data ends;
// otherwise, or when the data does not decode, false with `why`. Nothing is
// allocated for a frame that is refused.
bool decodeSolidBlock(ZipArchiveBytes& archive, const ZipEntryInfo& carrier, const SolidBlock& block,
                      const SolidBlockBytes* prefix, SolidBlockBytes& out, const char*& why);

// Delivers file `member` (entry `entry`) of a decoded block to `sink`, through
// its filter, checked against the entry's size and CRC-32 before the sink's
// finish() is called; false (with `why`) when the bytes do not match.
bool deliverSolidMember(const SolidBlockBytes& block, const SolidMember& member, const ZipEntryInfo& entry,
                        ZipReaderCallback& sink, const char*& why);
