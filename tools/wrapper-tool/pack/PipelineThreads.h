#pragma once
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "cli/Progress.h"

// The worker threads of a pack pipeline, with the lock and the signal they
// share with the writer.
class PipelineThreads {
public:
    PipelineThreads() = default;
    ~PipelineThreads() { stop(); }
    PipelineThreads(const PipelineThreads&) = delete;
    PipelineThreads& operator=(const PipelineThreads&) = delete;

    void start(unsigned count, const std::function<void()>& work)
    {
        for (unsigned i = 0; i < count; ++i)
            threads_.emplace_back(work);
    }

    // Tells the workers to end (stopping() turns true) and waits for them.
    void stop()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stopping_ = true;
        }
        changed.notify_all();
        for (std::thread& thread : threads_)
            thread.join();
        threads_.clear();
    }

    // Read under `mutex`.
    bool stopping() const { return stopping_; }

    // Waits under `lock` until `done()`. Waiting for a big piece of work can
    // take a while: the progress line's rate and time keep moving meanwhile.
    template <class Done>
    void waitTicking(std::unique_lock<std::mutex>& lock, Progress& progress, Done done)
    {
        while (!changed.wait_for(lock, std::chrono::milliseconds(250), done)) {
            lock.unlock();
            progress.advance(0);
            lock.lock();
        }
    }

    std::mutex mutex;
    std::condition_variable changed;

private:
    std::vector<std::thread> threads_;
    bool stopping_ = false;
};
