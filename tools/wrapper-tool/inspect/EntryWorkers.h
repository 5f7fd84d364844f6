#pragma once
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ZipEntryInfo.h"
#include "ZipReaderCallback.h"

// Extracts entries of one installer on worker threads, each worker through
// an InstallerView of its own (its own mapping and reader: none is shared
// between threads). Entries are taken in the order submitted; each result is
// awaited by index, so the caller keeps its order of messages and renames.
class EntryWorkers {
public:
    EntryWorkers(const std::string& installer, unsigned threads);
    ~EntryWorkers();
    EntryWorkers(const EntryWorkers&) = delete;
    EntryWorkers& operator=(const EntryWorkers&) = delete;

    // Entry `index` (as the caller's reader lists it: `expected`) into `sink`,
    // which must live until wait() has returned for it. The sink's finish()
    // is called by the worker once the size and CRC-32 matched.
    void submit(uint32_t index, const ZipEntryInfo& expected, ZipReaderCallback& sink);
    // Whether that entry was delivered and matched; the oldest submitted first.
    bool waitOldest(uint32_t& index);
    size_t pending() const { return submitted_.size(); }

private:
    struct Job;
    void work();

    std::string installer_;
    std::vector<std::thread> workers_;
    std::deque<std::shared_ptr<Job>> queue_;     // not yet taken
    std::deque<std::shared_ptr<Job>> submitted_; // not yet awaited
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stopping_ = false;
};
