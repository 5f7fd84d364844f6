#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ZipEntryInfo.h"

// Solid blocks (docs/solid-blocks.md): files whose bytes were compressed
// together in one zstd frame, the data of the block's first file. Each file
// says in its directory record which block holds it, where and through which
// filter; the layout below is taken only when every record agrees with every
// other, so a reader never cuts a file out of the wrong place.

// A decoded block is held whole in memory: bounded so that every worker of a
// 32-bit stub can hold one beside its views.
const uint64_t kMaxSolidBlockSize = uint64_t(64) << 20;
// The largest window a frame may declare: a block and its prefix.
const unsigned kMaxSolidWindowLog = 27;

// One file's place in its block, as its record gives it.
struct SolidMember {
    uint32_t entry = 0;  // index in the directory
    uint64_t offset = 0; // its filtered bytes in the decoded block
    uint64_t length = 0;
    uint8_t filter = 0;
};

struct SolidBlock {
    uint32_t carrier = 0; // the entry whose data is the block's frame
    uint32_t prefix = 0;  // the block whose decoded bytes this one refers to
    bool hasPrefix = false;
    uint64_t size = 0;    // decoded
    std::vector<SolidMember> members; // in directory order
};

struct SolidLayout {
    enum class Status { None, Valid, Invalid };
    Status status = Status::None;
    std::vector<SolidBlock> blocks;      // when Valid
    // Per entry, its block or -1, and its place in the block's members; for
    // an Invalid layout filled up to the refused entry.
    std::vector<int32_t> blockOfEntry;
    std::vector<uint32_t> memberOfEntry;
    // When Invalid: the entry a reader stops at (a broken block's first
    // file) and why.
    size_t badEntry = 0;
    std::string reason;

    bool valid() const { return status == Status::Valid; }
    bool any() const { return status != Status::None; }
};

// Reads and checks every entry's record: a block's files come in directory
// order, one after another in the decoded block from offset 0 to its size,
// agreeing on its size and prefix; blocks are numbered in order of their
// first file; a prefix is an earlier block that has none itself; only the
// first file of a block carries data, the others none; every size within
// kMaxSolidBlockSize; a known filter, and without one the file's own size.
SolidLayout readSolidLayout(const std::vector<ZipEntryInfo>& entries);

// The record's bytes (ID and size included) for the writer.
struct SolidRecord {
    uint32_t block = 0;
    uint32_t prefix = 0;
    bool hasPrefix = false;
    uint64_t blockSize = 0;
    uint64_t offset = 0;
    uint64_t length = 0;
    uint8_t filter = 0;
};
std::string encodeSolidRecord(const SolidRecord& record);
