#include "inspect/EntryWorkers.h"

#include "inspect/InstallerView.h"

struct EntryWorkers::Job {
    uint32_t index;
    ZipEntryInfo expected;
    ZipReaderCallback* sink;
    bool done = false;
    bool ok = false;
};

EntryWorkers::EntryWorkers(const std::string& installer, unsigned threads) : installer_(installer)
{
    for (unsigned i = 0; i < (threads == 0 ? 1 : threads); ++i)
        workers_.emplace_back([this] { work(); });
}

EntryWorkers::~EntryWorkers()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        queue_.clear();
    }
    changed_.notify_all();
    for (std::thread& worker : workers_)
        worker.join();
}

void EntryWorkers::submit(uint32_t index, const ZipEntryInfo& expected, ZipReaderCallback& sink)
{
    std::shared_ptr<Job> job(new Job{index, expected, &sink});
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(job);
        submitted_.push_back(job);
    }
    changed_.notify_all();
}

bool EntryWorkers::waitOldest(uint32_t& index)
{
    std::unique_lock<std::mutex> lock(mutex_);
    std::shared_ptr<Job> job = submitted_.front();
    submitted_.pop_front();
    changed_.wait(lock, [&] { return job->done; });
    index = job->index;
    return job->ok;
}

namespace {

// The worker's own reader must list the entry as the caller's did: a file
// changed between the two openings gives no file at all.
bool sameEntry(const ZipEntryInfo& a, const ZipEntryInfo& b)
{
    return a.fileName == b.fileName && a.crc32 == b.crc32 && a.compressedSize == b.compressedSize &&
           a.uncompressedSize == b.uncompressedSize && a.localHeaderOffset == b.localHeaderOffset &&
           a.compressionMethod == b.compressionMethod;
}

} // namespace

void EntryWorkers::work()
{
    InstallerView view;
    std::string error;
    const bool opened = view.open(installer_, error) && view.archiveFound();
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
        if (stopping_)
            return;
        std::shared_ptr<Job> job = queue_.front();
        queue_.pop_front();
        lock.unlock();
        const std::vector<ZipEntryInfo>& entries = view.reader().entries();
        const bool ok = opened && job->index < entries.size() && sameEntry(entries[job->index], job->expected) &&
                        view.reader().extract(job->index, *job->sink);
        lock.lock();
        job->ok = ok;
        job->done = true;
        changed_.notify_all();
    }
}
