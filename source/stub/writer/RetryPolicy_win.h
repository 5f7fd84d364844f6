#pragma once
#include <cstdint>

// Time as the retry sees it: the system's tick count and Sleep, or a test's
// own clock so that a test of giving up need not wait.
struct RetryClock {
    uint32_t (*now)();
    void (*sleep)(uint32_t ms);
};
const RetryClock& systemRetryClock();

// A sharing violation, an access denial or a lock violation: what a virus
// scanner or indexer holding a freshly written file for a moment causes.
bool isTransientError(uint32_t error);

// Retries of one file's steps, with a short back-off, within one time budget
// for the whole file.
class TransientRetry {
public:
    static const uint32_t kBudgetMs = 5000;

    explicit TransientRetry(const RetryClock& clock, uint32_t budgetMs = kBudgetMs);

    // After an attempt failed with `error`: waits and returns true when the
    // error is transient and the budget allows another attempt.
    bool again(uint32_t error);

    uint32_t retries() const { return count; }
    uint32_t elapsedMs() const { return clock.now() - start; }

private:
    const RetryClock& clock;
    uint32_t budget;
    uint32_t start;
    uint32_t delay = 20;
    uint32_t count = 0;
};
