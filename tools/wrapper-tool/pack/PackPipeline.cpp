#include "pack/PackPipeline.h"

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "deflate/BufferDeflater.h"
#include "deflate/ChunkDeflate.h"
#include "cli/Progress.h"
#include "pack/SourceFile.h"
#include "platform/OutputFile.h"
#include "ZipFormat.h"
#include "pack/PipelineThreads.h"
#include "pack/ZipWriter.h"

namespace {

// Bytes of file data read ahead of the writer, all threads together; one
// entry larger than this is still taken when nothing else is in flight.
// Generous enough that the other threads keep going while one works
// through a big entry the writer waits for.
const uint64_t kReadAheadBudget = uint64_t(256) << 20;
// And at most this many entries ahead per thread.
const unsigned kEntriesAheadPerThread = 512;
// Chunks of a big entry read ahead of the writer, per thread.
const unsigned kChunksAheadPerThread = 4;

enum class JobState { Waiting, Working, Done };

struct Job {
    const SourceEntry* entry;
    bool compressed;  // by a worker; else the writer handles it in turn
    // A chunk of a chunked entry (deflate/ChunkDeflate.h): its place in the file.
    bool chunk = false;
    bool firstChunk = false;
    bool lastChunk = false;
    uint64_t offset = 0;
    uint64_t length = 0;
    JobState state = JobState::Waiting;
    bool ok = true;
    std::string error;
    uint16_t method = zipformat::kMethodStored;
    uint32_t crc = 0;
    std::vector<uint8_t> data;
};

// The job's bytes of its file: the whole file, or one chunk of it. The file's
// end is checked where the job's bytes end it.
bool readJob(const Job& job, std::vector<uint8_t>& data, std::string& error)
{
    return readSourceBytes(*job.entry, job.offset, job.length, !job.chunk || job.lastChunk, data, error);
}

void compress(Job& job, BufferDeflater* deflater)
{
    std::vector<uint8_t> input;
    if (!readJob(job, input, job.error)) {
        job.ok = false;
        return;
    }
    if (job.chunk) {
        job.method = zipformat::kMethodDeflated;
        job.ok = deflateChunk(deflater, input.data(), input.size(), job.lastChunk, job.data, job.crc, job.error);
        if (!job.ok)
            job.error = "cannot deflate '" + job.entry->name + "': " + job.error;
        return;
    }
    job.crc = entryCrc32(0, input.data(), input.size());
    std::vector<uint8_t> deflated;
    if (deflater != nullptr && deflater->deflate(input.data(), input.size(), deflated)) {
        job.method = zipformat::kMethodDeflated;
        job.data.swap(deflated);
    } else {
        job.method = zipformat::kMethodStored;
        job.data.swap(input);
    }
}

// An entry big enough to be worth cutting: its chunks then spread over all threads.
bool chunked(const SourceEntry& entry, int level)
{
    return level > 0 && !entry.isDirectory && entry.size > kChunkedEntryThreshold;
}

class Pipeline {
public:
    Pipeline(const std::vector<SourceEntry>& entries, const PackPipelineOptions& options)
        : options_(options), window_(options.threads * kEntriesAheadPerThread)
    {
        jobs_.reserve(entries.size());
        for (const SourceEntry& entry : entries) {
            Job job;
            job.entry = &entry;
            job.length = entry.size;
            if (!chunked(entry, options.level)) {
                job.compressed = !entry.isDirectory && entry.size > 0 && entry.size < kLargestInMemoryEntry;
                jobs_.push_back(std::move(job));
                continue;
            }
            job.compressed = job.chunk = true;
            for (uint64_t offset = 0; offset < entry.size; offset += kDeflateChunkSize) {
                job.offset = offset;
                job.length = std::min<uint64_t>(kDeflateChunkSize, entry.size - offset);
                job.firstChunk = offset == 0;
                job.lastChunk = offset + job.length == entry.size;
                jobs_.push_back(job);
            }
        }
    }

    ~Pipeline() { stop(); }

    // Ends the workers (once all is written they are idle) and waits for them.
    void stop() { threads_.stop(); }

    bool run(ZipWriter& writer, Progress& progress, std::string& error)
    {
        threads_.start(options_.threads, [this] { work(); });
        for (size_t index = 0; index < jobs_.size(); ++index) {
            Job& job = jobs_[index];
            const SourceEntry& entry = *job.entry;
            progress.setItem(entry.name);
            bool written;
            if (entry.isDirectory) {
                written = writer.addDirectory(entry.name);
            } else if (!job.compressed) {
                written = writer.addFile(entry.name, entry.path, entry.size, progress);
            } else {
                std::unique_lock<std::mutex> lock(threads_.mutex);
                threads_.waitTicking(lock, progress, [&] { return job.state == JobState::Done; });
                lock.unlock();
                if (!job.ok) {
                    error = job.error;
                    return false;
                }
                written = job.chunk ? writeChunk(writer, job)
                                    : writer.addPrepared(entry.name, job.method, job.crc, entry.size,
                                                         job.data.data(), job.data.size());
                progress.advance(job.length);
                lock.lock();
                inFlightBytes_ -= job.length;
                std::vector<uint8_t>().swap(job.data);
            }
            if (!written) {
                error = writer.error();
                return false;
            }
            std::lock_guard<std::mutex> lock(threads_.mutex);
            written_ = index + 1;
            threads_.changed.notify_all();
        }
        return true;
    }

private:
    static bool writeChunk(ZipWriter& writer, const Job& job)
    {
        const SourceEntry& entry = *job.entry;
        if (job.firstChunk && !writer.beginChunked(entry.name, entry.size, kDeflateChunkSize))
            return false;
        if (!writer.addChunk(job.data.data(), job.data.size(), job.crc, uint32_t(job.length)))
            return false;
        return !job.lastChunk || writer.endChunked(entry.path);
    }

    // The next job a worker may take: within the window ahead of the writer
    // and the read-ahead budget.
    Job* claim()
    {
        while (next_ < jobs_.size() && !jobs_[next_].compressed)
            ++next_;
        if (next_ >= jobs_.size() || next_ >= written_ + window_)
            return nullptr;
        Job& job = jobs_[next_];
        // A chunk waits for a smaller budget: memory stays flat in entry size.
        const uint64_t budget =
            job.chunk ? uint64_t(options_.threads) * kChunksAheadPerThread * kDeflateChunkSize : kReadAheadBudget;
        if (inFlightBytes_ != 0 && inFlightBytes_ + job.length > budget)
            return nullptr;
        ++next_;
        inFlightBytes_ += job.length;
        job.state = JobState::Working;
        return &job;
    }

    void work()
    {
        BufferDeflater deflater(options_.level);
        BufferDeflater* use = options_.level > 0 && deflater.ready() ? &deflater : nullptr;
        std::unique_lock<std::mutex> lock(threads_.mutex);
        for (;;) {
            Job* job = nullptr;
            threads_.changed.wait(lock, [&] {
                if (threads_.stopping())
                    return true;
                job = claim();
                return job != nullptr || next_ >= jobs_.size();
            });
            if (job == nullptr)
                return;
            lock.unlock();
            const auto started = std::chrono::steady_clock::now();
            compress(*job, use);
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            lock.lock();
            ++times_.tasks;
            times_.seconds += seconds;
            times_.longestSeconds = std::max(times_.longestSeconds, seconds);
            job->state = JobState::Done;
            threads_.changed.notify_all();
        }
    }

public:
    PackTaskTimes times_;

private:
    PackPipelineOptions options_;
    size_t window_;
    std::vector<Job> jobs_;
    size_t next_ = 0;
    size_t written_ = 0;
    uint64_t inFlightBytes_ = 0;
    // Last: its threads end before anything they use is destroyed.
    PipelineThreads threads_;
};

} // namespace

bool packEntries(const std::vector<SourceEntry>& entries, const PackPipelineOptions& options,
                 ZipWriter& writer, Progress& progress, std::string& error, PackTaskTimes* times)
{
    Pipeline pipeline(entries, options);
    const bool ok = pipeline.run(writer, progress, error);
    if (times != nullptr) {
        pipeline.stop();
        *times = pipeline.times_;
    }
    return ok;
}
