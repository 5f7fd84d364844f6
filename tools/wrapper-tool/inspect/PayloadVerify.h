#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "UnpackPlan.h"
#include "ZipReader.h"

// What verify found in an installer, in the order the stub would meet it.
struct Findings {
    std::vector<std::string> problems;
    std::vector<std::string> notes;
    std::vector<std::string> warnings;
    bool innerSetup = false;
    std::vector<std::string> stagedUpdates;
    uint64_t files = 0;
    uint64_t folders = 0;
    uint64_t unpackedBytes = 0;
};

// Every entry the plan refuses is a problem (the first one is where the stub
// stops); every file is decompressed and checked against its size and
// CRC-32, on all usable cores (the chunks of an indexed entry too), each
// worker reading `installer` itself. Problems come in entry order whatever
// the timing.
void checkEntries(const std::string& installer, ZipReader& reader, const UnpackPlan& plan, Findings& found);
