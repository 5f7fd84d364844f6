#pragma once
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ZipChunkIndex.h"
#include "ZipEntryInfo.h"
#include "ZipReaderCallback.h"
#include "ZipSolidLayout.h"

// Where a worker delivers an entry: in order through write(), or, for the
// chunks of an indexed entry, each chunk at its offset through writeAt(),
// from several workers at once (ranges apart).
class EntrySink : public ZipReaderCallback {
public:
    virtual bool writeAt(uint64_t offset, const uint8_t* data, uint32_t size) = 0;
};

// Extracts entries of one installer on worker threads, each worker through
// an InstallerView of its own (its own mapping and reader: none is shared
// between threads). An entry with a valid chunk index is split into its
// chunks, each inflated alone by whichever worker is free, so one big entry
// uses every core; a worker holds one chunk's buffer, never an entry. Work
// is taken in the order submitted; each result is awaited by index, so the
// caller keeps its order of messages and renames.
//
// A file in a solid block (`solid`, the plan's layout) is cut out of its
// decoded block: each block is decoded once, by one worker, into memory
// (after its prefix block), and the next blocks are decoded ahead on the
// other workers, at most one per worker beyond the current one. A block's
// bytes are dropped once none of its files is left to come.
class EntryWorkers {
public:
    EntryWorkers(const std::string& installer, unsigned threads, const SolidLayout* solid = nullptr);
    ~EntryWorkers();
    EntryWorkers(const EntryWorkers&) = delete;
    EntryWorkers& operator=(const EntryWorkers&) = delete;

    // Entry `index` (as the caller's reader lists it: `expected`, with its
    // chunk index as that reader's chunkIndex() gave it) into `sink`, which
    // must live until wait() has returned for it. A whole entry's finish() is
    // called by the worker once its size and CRC-32 matched; a chunked one
    // is complete when every chunk matched its own (they combine to the entry's).
    void submit(uint32_t index, const ZipEntryInfo& expected, const ChunkIndexResult& chunks, EntrySink& sink);
    // Whether that entry was delivered and matched; the oldest submitted
    // first. On failure `why` names the first chunk that failed, when chunked.
    bool waitOldest(uint32_t& index, std::string& why);
    size_t pending() const { return submitted_.size(); }
    // How many entries to keep under way: a big one at the head must not
    // leave the other workers idle, and each may hold a temporary open
    // (well below the interrupt cleanup's slots).
    size_t ahead() const { return workers_.size() * 8 < 32 ? workers_.size() * 8 : 32; }

private:
    struct Job;
    struct Block;
    struct Task {
        std::shared_ptr<Job> job; // null for a block's decoding
        size_t chunk;             // kWhole for an entry inflated as one stream
        size_t block = 0;         // for a block's decoding
    };
    static const size_t kWhole = size_t(-1);
    void work();
    bool run(class InstallerView& view, const Task& task, std::string& why, std::unique_lock<std::mutex>& lock);
    bool runWhole(class InstallerView& view, const Task& task, std::string& why);
    void queueBlocks(size_t from);
    void decodeBlock(class InstallerView& view, size_t block, std::unique_lock<std::mutex>& lock);
    bool deliverMember(const Job& job, std::string& why, std::unique_lock<std::mutex>& lock);
    void dropFinishedBlocks();

    const SolidLayout* solid_;
    std::vector<Block> blocks_;
    size_t newestBlock_ = 0; // the block of the newest file submitted

    std::string installer_;
    std::vector<std::thread> workers_;
    std::deque<Task> queue_;                     // not yet taken
    std::deque<std::shared_ptr<Job>> submitted_; // not yet awaited
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stopping_ = false;
};
