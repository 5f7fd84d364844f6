#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "pack/SourceTree.h"

// One solid block as the writer needs it: its files' filtered bytes one
// after another, each file's place and check values, and, once compressed,
// its zstd frame.
struct SolidBuiltFile {
    uint64_t offset = 0;
    uint64_t length = 0;
    uint8_t filter = 0;
    uint32_t crc = 0;
};

struct SolidBuiltBlock {
    std::vector<uint8_t> bytes; // decoded form: the filtered files
    std::vector<SolidBuiltFile> files;
    std::vector<uint8_t> frame;
};

// Reads `files` (in order) into `block`, each through the branch filter when
// it looks like code and the filter keeps it within bounds.
bool readSolidBlock(const std::vector<const SourceEntry*>& files, SolidBuiltBlock& block, std::string& error);

// Compresses `block.bytes` into `block.frame`: zstd at `level`, with the
// block's size and a checksum in the frame, and `prefix` (the prefix block's
// bytes) to refer to when given.
bool compressSolidBlock(SolidBuiltBlock& block, const std::vector<uint8_t>* prefix, int level, std::string& error);

// Why a build without zstd's encoder (the Windows tool) cannot pack solid.
extern const char kNoSolidEncoder[];
