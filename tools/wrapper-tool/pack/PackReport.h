#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "pack/PackPipeline.h"
#include "pack/ZipWriter.h"

// What `pack` tells when it has written the installer: a few lines for a
// person, or one JSON document for a pipeline.
struct PackSummary {
    std::string installer;
    std::string sha256;
    uint64_t installerSize = 0;
    uint64_t archiveOffset = 0;
    uint64_t inputBytes = 0;
    int level = 0;
    bool solid = false; // zstd solid blocks: `level` is zstd's
    unsigned threads = 0;
    PackTaskTimes tasks;
    std::vector<ZipWriter::CentralEntry> entries;
    std::vector<std::string> warnings;
};

void printPackText(const PackSummary& summary);
void printPackJson(const PackSummary& summary);
