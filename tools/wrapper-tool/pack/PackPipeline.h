#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "pack/SourceTree.h"

class Progress;
class ZipWriter;

// Compresses the payload's files on worker threads and hands them to the
// writer strictly in the sorted order, so the archive's bytes depend neither
// on the thread count nor on timing. Memory stays bounded: at most 256 MiB
// of file data (or one entry, when larger) and 512 entries per thread are
// read and compressed ahead of the writer; a big entry goes in chunks, at
// most 4 per thread ahead, so memory does not grow with its size; and at
// level 0 files too large for memory are streamed by the writer itself.
struct PackPipelineOptions {
    int level = 9;
    unsigned threads = 1;
};

// How the compression work was cut: the wall time of each worker's task
// (an entry, or a chunk of one), summed and the longest. Their ratio is the
// most cores that could have helped.
struct PackTaskTimes {
    uint64_t tasks = 0;
    double seconds = 0;
    double longestSeconds = 0;
};

// Writes every entry through `writer`; false with the reason in `error`.
bool packEntries(const std::vector<SourceEntry>& entries, const PackPipelineOptions& options,
                 ZipWriter& writer, Progress& progress, std::string& error, PackTaskTimes* times = nullptr);

// Files of at least this size are deflated while streaming, not in memory.
const uint64_t kLargestInMemoryEntry = uint64_t(256) << 20;
