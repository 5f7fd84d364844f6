#include "inspect/EntryWorkers.h"

#include "inspect/InstallerView.h"

struct EntryWorkers::Job {
    uint32_t index = 0;
    ZipEntryInfo expected;
    ChunkIndexResult chunks;
    EntrySink* sink = nullptr;
    size_t unfinished = 0;           // tasks not yet run
    size_t failedChunk = kWhole;     // the first failing chunk, by number
    bool failed = false;
    std::string why;
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

void EntryWorkers::submit(uint32_t index, const ZipEntryInfo& expected, const ChunkIndexResult& chunks,
                          EntrySink& sink)
{
    std::shared_ptr<Job> job(new Job);
    job->index = index;
    job->expected = expected;
    if (chunks.valid())
        job->chunks = chunks;
    job->sink = &sink;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (job->chunks.valid()) {
            for (size_t i = 0; i < job->chunks.chunks.size(); ++i)
                queue_.push_back(Task{job, i});
            job->unfinished = job->chunks.chunks.size();
        } else {
            queue_.push_back(Task{job, kWhole});
            job->unfinished = 1;
        }
        submitted_.push_back(job);
    }
    changed_.notify_all();
}

bool EntryWorkers::waitOldest(uint32_t& index, std::string& why)
{
    std::unique_lock<std::mutex> lock(mutex_);
    std::shared_ptr<Job> job = submitted_.front();
    submitted_.pop_front();
    changed_.wait(lock, [&] { return job->unfinished == 0; });
    index = job->index;
    why = job->why;
    return !job->failed;
}

namespace {

// The worker's own reader must list the entry as the caller's did: a file
// changed between the two openings gives no file at all.
bool sameEntry(const ZipEntryInfo& a, const ZipEntryInfo& b)
{
    return a.fileName == b.fileName && a.crc32 == b.crc32 && a.compressedSize == b.compressedSize &&
           a.uncompressedSize == b.uncompressedSize && a.localHeaderOffset == b.localHeaderOffset &&
           a.compressionMethod == b.compressionMethod && a.extraField == b.extraField;
}

// One chunk's bytes, in order, to where the chunk begins in the entry.
class ChunkAt : public ZipReaderCallback {
public:
    ChunkAt(EntrySink& sink, uint64_t offset) : sink_(sink), offset_(offset) {}
    bool write(const uint8_t* data, uint32_t size) override
    {
        const bool wrote = sink_.writeAt(offset_, data, size);
        offset_ += size;
        return wrote;
    }
    bool finish() override { return true; }

private:
    EntrySink& sink_;
    uint64_t offset_;
};

} // namespace

bool EntryWorkers::run(InstallerView& view, const Task& task, std::string& why)
{
    const Job& job = *task.job;
    const std::vector<ZipEntryInfo>& entries = view.reader().entries();
    if (job.index >= entries.size() || !sameEntry(entries[job.index], job.expected))
        return false;
    if (task.chunk == kWhole)
        return view.reader().extract(job.index, *job.sink);
    ChunkAt at(*job.sink, job.chunks.chunks[task.chunk].uncompressedOffset);
    return view.reader().extractChunk(job.index, job.chunks, task.chunk, at, why);
}

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
        const Task task = queue_.front();
        queue_.pop_front();
        Job& job = *task.job;
        // Once a chunk failed, the entry's later chunks need not run: every
        // earlier one was taken before it, so the first failing one is known.
        const bool skip = job.failed;
        lock.unlock();
        std::string why;
        const bool ok = skip || (opened && run(view, task, why));
        lock.lock();
        if (!ok && !skip && task.chunk <= job.failedChunk) {
            job.failedChunk = task.chunk;
            job.why = why;
        }
        job.failed = job.failed || !ok;
        --job.unfinished;
        changed_.notify_all();
    }
}
