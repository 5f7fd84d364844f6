#include "pack/SolidPack.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "ZipFormat.h"
#include "ZipSolidLayout.h"
#include "cli/Progress.h"
#include "pack/SolidBlockBuild.h"
#include "pack/PipelineThreads.h"
#include "pack/ZipWriter.h"

namespace {

const int32_t kNotSolid = -1;

struct BlockJob {
    std::vector<const SourceEntry*> files;
    bool usesPrefix = false;
    bool taken = false;
    bool done = false;
    bool ok = true;
    std::string error;
    SolidBuiltBlock built;
};

class SolidPipeline {
public:
    SolidPipeline(const std::vector<SourceEntry>& entries, const SolidOptions& options)
        : entries_(entries), options_(options), blockOf_(entries.size(), kNotSolid), memberOf_(entries.size(), 0)
    {
        std::vector<size_t> candidates;
        std::vector<uint64_t> sizes;
        for (size_t i = 0; i < entries.size(); ++i) {
            if (!entries[i].isDirectory && entries[i].size > 0 && entries[i].size <= kMaxSolidFileSize) {
                candidates.push_back(i);
                sizes.push_back(entries[i].size);
            }
        }
        const std::vector<SolidCut> cuts = planSolidBlocks(sizes, options);
        hasPrefix_ = !cuts.empty() && cuts[0].isPrefix;
        blocks_.resize(cuts.size());
        for (size_t b = 0; b < cuts.size(); ++b) {
            blocks_[b].usesPrefix = hasPrefix_ && b > 0;
            for (size_t c = cuts[b].first; c < cuts[b].end; ++c) {
                memberOf_[candidates[c]] = uint32_t(blocks_[b].files.size());
                blockOf_[candidates[c]] = int32_t(b);
                blocks_[b].files.push_back(&entries[candidates[c]]);
            }
        }
    }

    ~SolidPipeline() { stop(); }

    // Ends the workers (once all is written they are idle) and waits for them.
    void stop() { threads_.stop(); }

    bool run(ZipWriter& writer, Progress& progress, std::string& error)
    {
        const unsigned threads = std::max(1u, options_.threads);
        threads_.start(threads, [this] { work(); });
        for (size_t i = 0; i < entries_.size(); ++i) {
            const SourceEntry& entry = entries_[i];
            progress.setItem(entry.name);
            bool written;
            if (entry.isDirectory)
                written = writer.addDirectory(entry.name);
            else if (blockOf_[i] == kNotSolid)
                written = writer.addFile(entry.name, entry.path, entry.size, progress);
            else if (!writeMember(writer, progress, size_t(blockOf_[i]), memberOf_[i], error))
                return false;
            else
                written = true;
            if (!written) {
                error = writer.error();
                return false;
            }
        }
        return true;
    }

    PackTaskTimes times;

private:
    bool writeMember(ZipWriter& writer, Progress& progress, size_t b, uint32_t member, std::string& error)
    {
        BlockJob& job = blocks_[b];
        std::unique_lock<std::mutex> lock(threads_.mutex);
        threads_.waitTicking(lock, progress, [&] { return job.done; });
        lock.unlock();
        if (!job.ok) {
            error = job.error;
            return false;
        }
        const SourceEntry& entry = *job.files[member];
        const SolidBuiltFile& file = job.built.files[member];
        SolidRecord record;
        record.block = uint32_t(b);
        record.hasPrefix = job.usesPrefix;
        record.prefix = 0;
        record.blockSize = job.built.bytes.size();
        record.offset = file.offset;
        record.length = file.length;
        record.filter = file.filter;
        const bool carrier = member == 0;
        const bool written = writer.addPrepared(entry.name, zipformat::kMethodSolid, file.crc, entry.size,
                                                carrier ? job.built.frame.data() : nullptr,
                                                carrier ? job.built.frame.size() : 0, encodeSolidRecord(record));
        if (!written) {
            error = writer.error();
            return false;
        }
        progress.advance(entry.size);
        if (member + 1 == job.files.size()) {
            lock.lock();
            ++blocksWritten_;
            // The prefix block's bytes stay until every block that refers to it is compressed.
            if (!(hasPrefix_ && b == 0))
                job.built = SolidBuiltBlock();
            threads_.changed.notify_all();
        }
        return true;
    }

    // The next block, at most one per thread ahead of the writer, so memory
    // stays at a few blocks whatever the payload's size.
    BlockJob* claim()
    {
        if (next_ >= blocks_.size() || next_ >= blocksWritten_ + std::max(1u, options_.threads))
            return nullptr;
        BlockJob& job = blocks_[next_++];
        job.taken = true;
        return &job;
    }

    void build(BlockJob& job, std::unique_lock<std::mutex>& lock)
    {
        lock.unlock();
        std::string error;
        bool ok = readSolidBlock(job.files, job.built, error);
        lock.lock();
        if (&job == &blocks_[0] && hasPrefix_) {
            prefixRead_ = true;
            prefixOk_ = ok;
            threads_.changed.notify_all();
        }
        if (ok && job.usesPrefix) {
            threads_.changed.wait(lock, [&] { return prefixRead_ || threads_.stopping(); });
            ok = prefixOk_ && !threads_.stopping();
            if (!ok && error.empty())
                error = blocks_[0].error.empty() ? "the solid prefix block could not be read" : blocks_[0].error;
        }
        const std::vector<uint8_t>* prefix = job.usesPrefix ? &blocks_[0].built.bytes : nullptr;
        lock.unlock();
        if (ok)
            ok = compressSolidBlock(job.built, prefix, options_.level, error);
        lock.lock();
        job.ok = ok;
        job.error = error;
    }

    void work()
    {
        std::unique_lock<std::mutex> lock(threads_.mutex);
        for (;;) {
            BlockJob* job = nullptr;
            threads_.changed.wait(lock, [&] {
                job = threads_.stopping() ? nullptr : claim();
                return threads_.stopping() || job != nullptr || next_ >= blocks_.size();
            });
            if (job == nullptr)
                return;
            const auto started = std::chrono::steady_clock::now();
            build(*job, lock);
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            ++times.tasks;
            times.seconds += seconds;
            times.longestSeconds = std::max(times.longestSeconds, seconds);
            job->done = true;
            threads_.changed.notify_all();
        }
    }

    const std::vector<SourceEntry>& entries_;
    SolidOptions options_;
    std::vector<int32_t> blockOf_;
    std::vector<uint32_t> memberOf_;
    std::vector<BlockJob> blocks_;
    bool hasPrefix_ = false;
    bool prefixRead_ = false;
    bool prefixOk_ = false;
    size_t next_ = 0;
    size_t blocksWritten_ = 0;
    // Last: its threads end before anything they use is destroyed.
    PipelineThreads threads_;
};

} // namespace

bool packSolidEntries(const std::vector<SourceEntry>& entries, const SolidOptions& options, ZipWriter& writer,
                      Progress& progress, std::string& error, PackTaskTimes* times)
{
    if (!solidPackAvailable()) {
        error = kNoSolidEncoder;
        return false;
    }
    SolidPipeline pipeline(entries, options);
    const bool ok = pipeline.run(writer, progress, error);
    pipeline.stop();
    if (times != nullptr)
        *times = pipeline.times;
    return ok;
}

bool solidPackAvailable()
{
#ifdef WRAPPER_ZSTD_ENCODER
    return true;
#else
    return false;
#endif
}
