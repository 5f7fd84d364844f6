#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "EntryResult_win.h"
#include "LogRecord.h"
#include "Owned_win.h"

class ZipReader;
struct SolidLayout;
class SolidBlockBytes;

// What became of one file entry, with the records its writing made, kept
// until the driver logs them in plan order.
struct FileOutcome {
    EntryResult result;
    std::vector<KeptLogRecord> records;
    LONG done = 0; // read and set through Interlocked calls only
};

// The plan's file entries, written by the calling thread and a few workers in
// parallel: each worker has its own view of the installer and its own reader
// (and so its own buffers), and takes the next entry in plan order. After a
// failure no entry past it is taken, so every entry before the first failing
// one is written, whatever the timing.
//
// The files of a solid block are one piece of work, taken with the block's
// first file: the worker decodes the block whole (after its prefix block,
// which another worker may still be decoding), then writes its files in
// order, so a file kept as it was still has its block decoded past it. A
// block that does not decode fails at its first file. A block other blocks
// refer to stays in memory until the end; any other goes once written.
class ParallelFiles {
public:
    // The calling thread and at most this many minus one threads beside it.
    static const unsigned kMaxWorkers = 4;

    // `entries`: the file entries' indices in plan order; `names[index]` the
    // name each is written to; `fresh[index]` whether its folder is new in
    // this run. `reader` is the caller's, over `installer`.
    ParallelFiles(ZipReader& reader, const std::wstring& installer,
                  const std::vector<uint32_t>& entries, const std::vector<std::wstring>& names,
                  const std::vector<bool>& fresh, const SolidLayout& solid);
    // Waits for the workers (each finishes the entry it has).
    ~ParallelFiles();
    ParallelFiles(const ParallelFiles&) = delete;
    ParallelFiles& operator=(const ParallelFiles&) = delete;

    // Starts up to `workers` - 1 threads beside the caller.
    void start(unsigned workers);
    // The outcome of job `job` (entries[job]); the caller writes entries
    // itself while it waits.
    const FileOutcome& await(size_t job);

    // Runs one worker thread: a reader of its own, then entries until none is left.
    void workOnOwnReader();

private:
    struct Block;
    bool take(size_t& job);
    void run(size_t job, ZipReader& with);
    void runBlock(size_t block, ZipReader& with);
    void writeFile(size_t job, ZipReader& with, const SolidBlockBytes* block, const char* blockFailure);
    void noteFailure(size_t job);

    ZipReader& reader;
    const std::wstring& installer;
    const std::vector<uint32_t>& entries;
    const std::vector<std::wstring>& names;
    const std::vector<bool>& fresh;
    std::vector<FileOutcome> outcomes;
    volatile LONG next = 0;
    volatile LONG firstFailed;
    const SolidLayout& solid;
    // Per job: the solid block it starts, -1 for a file of its own, or -2
    // for a later file of a block (written with the block's first).
    std::vector<int32_t> unitOfJob;
    std::vector<int32_t> jobOfEntry;
    Block* blocks = nullptr;
    Owned<HANDLE, HandleCloser> threads[kMaxWorkers - 1];
    unsigned threadCount = 0;
};

// How many workers unpack: the active processors, at most 4, at least 1.
unsigned unpackWorkerCount();
