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
#include "cli/Progress.h"
#include "pack/SourceFile.h"
#include "ZipFormat.h"
#include "pack/ZipWriter.h"

namespace {

// Bytes of file data read ahead of the writer, all threads together; one
// entry larger than this is still taken when nothing else is in flight.
// Generous enough that the other threads keep going while one works
// through a big entry the writer waits for.
const uint64_t kReadAheadBudget = uint64_t(256) << 20;
const auto kProgressTick = std::chrono::milliseconds(250);
// And at most this many entries ahead per thread.
const unsigned kEntriesAheadPerThread = 512;

enum class JobState { Waiting, Working, Done };

struct Job {
    const SourceEntry* entry;
    bool compressed;  // by a worker; else the writer handles it in turn
    JobState state = JobState::Waiting;
    bool ok = true;
    std::string error;
    uint16_t method = zipformat::kMethodStored;
    uint32_t crc = 0;
    std::vector<uint8_t> data;
};

bool readWhole(const SourceEntry& entry, std::vector<uint8_t>& data, std::string& error)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(openSourceFile(entry.path), std::fclose);
    if (!file) {
        error = "cannot read '" + entry.name + "': " + std::strerror(errno);
        return false;
    }
    data.resize(size_t(entry.size));
    size_t got = data.empty() ? 0 : std::fread(data.data(), 1, data.size(), file.get());
    if (std::ferror(file.get())) {
        error = "cannot read '" + entry.name + "'";
        return false;
    }
    // One more byte read means the file grew since the folder was read.
    if (got != data.size() || std::fgetc(file.get()) != EOF) {
        error = "'" + entry.name + "' changed while it was being packed";
        return false;
    }
    return true;
}

void compress(Job& job, BufferDeflater* deflater)
{
    std::vector<uint8_t> input;
    if (!readWhole(*job.entry, input, job.error)) {
        job.ok = false;
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

class Pipeline {
public:
    Pipeline(const std::vector<SourceEntry>& entries, const PackPipelineOptions& options)
        : options_(options), window_(options.threads * kEntriesAheadPerThread)
    {
        jobs_.reserve(entries.size());
        for (const SourceEntry& entry : entries) {
            Job job;
            job.entry = &entry;
            job.compressed = !entry.isDirectory && entry.size > 0 && entry.size < kLargestInMemoryEntry;
            jobs_.push_back(std::move(job));
        }
    }

    ~Pipeline()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        for (std::thread& worker : workers_)
            worker.join();
    }

    bool run(ZipWriter& writer, Progress& progress, std::string& error)
    {
        for (unsigned i = 0; i < options_.threads; ++i)
            workers_.emplace_back([this] { work(); });
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
                std::unique_lock<std::mutex> lock(mutex_);
                // Waiting for a big entry can take a while: keep the
                // progress line's rate and time moving meanwhile.
                while (!changed_.wait_for(lock, kProgressTick, [&] { return job.state == JobState::Done; })) {
                    lock.unlock();
                    progress.advance(0);
                    lock.lock();
                }
                lock.unlock();
                if (!job.ok) {
                    error = job.error;
                    return false;
                }
                written = writer.addPrepared(entry.name, job.method, job.crc, entry.size, job.data.data(),
                                             job.data.size());
                progress.advance(entry.size);
                lock.lock();
                inFlightBytes_ -= entry.size;
                std::vector<uint8_t>().swap(job.data);
            }
            if (!written) {
                error = writer.error();
                return false;
            }
            std::lock_guard<std::mutex> lock(mutex_);
            written_ = index + 1;
            changed_.notify_all();
        }
        return true;
    }

private:
    // The next job a worker may take: within the window ahead of the writer
    // and the read-ahead budget.
    Job* claim()
    {
        while (next_ < jobs_.size() && !jobs_[next_].compressed)
            ++next_;
        if (next_ >= jobs_.size() || next_ >= written_ + window_)
            return nullptr;
        Job& job = jobs_[next_];
        if (inFlightBytes_ != 0 && inFlightBytes_ + job.entry->size > kReadAheadBudget)
            return nullptr;
        ++next_;
        inFlightBytes_ += job.entry->size;
        job.state = JobState::Working;
        return &job;
    }

    void work()
    {
        BufferDeflater deflater(options_.level);
        BufferDeflater* use = options_.level > 0 && deflater.ready() ? &deflater : nullptr;
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            Job* job = nullptr;
            changed_.wait(lock, [&] {
                if (stopping_)
                    return true;
                job = claim();
                return job != nullptr || next_ >= jobs_.size();
            });
            if (job == nullptr)
                return;
            lock.unlock();
            compress(*job, use);
            lock.lock();
            job->state = JobState::Done;
            changed_.notify_all();
        }
    }

    PackPipelineOptions options_;
    size_t window_;
    std::vector<Job> jobs_;
    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable changed_;
    size_t next_ = 0;
    size_t written_ = 0;
    uint64_t inFlightBytes_ = 0;
    bool stopping_ = false;
};

} // namespace

bool packEntries(const std::vector<SourceEntry>& entries, const PackPipelineOptions& options,
                 ZipWriter& writer, Progress& progress, std::string& error)
{
    Pipeline pipeline(entries, options);
    return pipeline.run(writer, progress, error);
}
