#include "inspect/EntryWorkers.h"

#include "inspect/InstallerView.h"

// One solid block: decoded at most once, its bytes shared by its files' tasks.
struct EntryWorkers::Block {
    enum class State { Idle, Queued, Decoding, Ready, Failed };
    State state = State::Idle;
    std::shared_ptr<SolidBlockBytes> bytes;
    size_t tasksLeft = 0; // its files submitted and not yet run
    bool isPrefix = false; // some block refers to it
    std::string why;
};

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

EntryWorkers::EntryWorkers(const std::string& installer, unsigned threads, const SolidLayout* solid)
    : solid_(solid != nullptr && solid->any() ? solid : nullptr), installer_(installer)
{
    if (solid_ != nullptr) {
        blocks_.resize(solid_->blocks.size());
        for (const SolidBlock& block : solid_->blocks)
            if (block.hasPrefix && block.prefix < blocks_.size())
                blocks_[block.prefix].isPrefix = true;
    }
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
    const int32_t block = solid_ != nullptr && index < solid_->blockOfEntry.size() ? solid_->blockOfEntry[index] : -1;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (block >= 0) {
            newestBlock_ = size_t(block);
            dropFinishedBlocks();
            queueBlocks(size_t(block));
            ++blocks_[size_t(block)].tasksLeft;
            queue_.push_back(Task{job, kWhole});
            job->unfinished = 1;
        } else if (job->chunks.valid()) {
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

// Block `from` and the next ones, one per worker, are decoded ahead of the
// files that need them.
void EntryWorkers::queueBlocks(size_t from)
{
    for (size_t b = from; b < blocks_.size() && b < from + workers_.size(); ++b) {
        if (blocks_[b].state != Block::State::Idle)
            continue;
        blocks_[b].state = Block::State::Queued;
        queue_.push_back(Task{nullptr, kWhole, b});
    }
}

// Blocks before the newest file's are done with once their tasks ran; a
// prefix stays, as in the stub: any later block may refer to it, not only the
// next one.
void EntryWorkers::dropFinishedBlocks()
{
    for (size_t b = 0; b < newestBlock_ && b < blocks_.size(); ++b) {
        Block& block = blocks_[b];
        if (block.tasksLeft == 0 && block.bytes && !block.isPrefix)
            block.bytes.reset();
    }
}

// Decodes `number` on this worker (its prefix first, here too, when no one
// has started that); called and returning with the lock held.
void EntryWorkers::decodeBlock(InstallerView& view, size_t number, std::unique_lock<std::mutex>& lock)
{
    Block& block = blocks_[number];
    const SolidBlock& layout = solid_->blocks[number];
    if (block.state == Block::State::Decoding || block.state == Block::State::Ready ||
        block.state == Block::State::Failed)
        return;
    block.state = Block::State::Decoding;
    std::shared_ptr<SolidBlockBytes> prefix;
    if (layout.hasPrefix) {
        decodeBlock(view, layout.prefix, lock);
        Block& before = blocks_[layout.prefix];
        changed_.wait(lock, [&] { return before.state == Block::State::Ready || before.state == Block::State::Failed; });
        prefix = before.bytes;
    }
    lock.unlock();
    std::shared_ptr<SolidBlockBytes> bytes(new SolidBlockBytes);
    const char* why = "its solid block's prefix block does not decode";
    const bool ok = (!layout.hasPrefix || prefix) && view.archiveFound() &&
                    view.reader().decodeSolidBlock(layout, prefix.get(), *bytes, why);
    lock.lock();
    block.state = ok ? Block::State::Ready : Block::State::Failed;
    if (ok)
        block.bytes = bytes;
    else
        block.why = why;
    changed_.notify_all();
}

// A solid file: cut out of its block once that is decoded.
bool EntryWorkers::deliverMember(const Job& job, std::string& why, std::unique_lock<std::mutex>& lock)
{
    const size_t number = size_t(solid_->blockOfEntry[job.index]);
    Block& block = blocks_[number];
    changed_.wait(lock, [&] { return block.state == Block::State::Ready || block.state == Block::State::Failed; });
    std::shared_ptr<SolidBlockBytes> bytes = block.bytes;
    why = block.why;
    lock.unlock();
    const char* problem = nullptr;
    const SolidMember& member = solid_->blocks[number].members[solid_->memberOfEntry[job.index]];
    const bool ok = bytes && deliverSolidMember(*bytes, member, job.expected, *job.sink, problem);
    if (bytes && !ok && problem != nullptr)
        why = problem;
    lock.lock();
    --block.tasksLeft;
    return ok;
}

bool EntryWorkers::run(InstallerView& view, const Task& task, std::string& why, std::unique_lock<std::mutex>& lock)
{
    if (!task.job) {
        decodeBlock(view, task.block, lock);
        return true;
    }
    const Job& job = *task.job;
    lock.unlock();
    const std::vector<ZipEntryInfo>& entries = view.reader().entries();
    const bool same = job.index < entries.size() && sameEntry(entries[job.index], job.expected);
    lock.lock();
    if (!same)
        return false;
    if (solid_ != nullptr && job.index < solid_->blockOfEntry.size() && solid_->blockOfEntry[job.index] >= 0)
        return deliverMember(job, why, lock);
    lock.unlock();
    const bool ok = runWhole(view, task, why);
    lock.lock();
    return ok;
}

bool EntryWorkers::runWhole(InstallerView& view, const Task& task, std::string& why)
{
    const Job& job = *task.job;
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
        if (!task.job) {
            run(view, task, error, lock);
            continue;
        }
        Job& job = *task.job;
        // Once a chunk failed, the entry's later chunks need not run: every
        // earlier one was taken before it, so the first failing one is known.
        const bool skip = job.failed;
        std::string why;
        const bool ok = skip || (opened && run(view, task, why, lock));
        if (!ok && !skip && task.chunk <= job.failedChunk) {
            job.failedChunk = task.chunk;
            job.why = why;
        }
        job.failed = job.failed || !ok;
        --job.unfinished;
        changed_.notify_all();
    }
}
