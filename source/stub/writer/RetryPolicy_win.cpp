#include "RetryPolicy_win.h"

#include <windows.h>

namespace {

const uint32_t kLongestDelayMs = 500;

uint32_t tickNow()
{
    return GetTickCount();
}

void tickSleep(uint32_t ms)
{
    Sleep(ms);
}

} // namespace

const RetryClock& systemRetryClock()
{
    static const RetryClock clock = {tickNow, tickSleep};
    return clock;
}

bool isTransientError(uint32_t error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
           error == ERROR_LOCK_VIOLATION;
}

TransientRetry::TransientRetry(const RetryClock& clock, uint32_t budgetMs)
    : clock(clock), budget(budgetMs), start(clock.now())
{
}

bool TransientRetry::again(uint32_t error)
{
    if (!isTransientError(error))
        return false;
    // Unsigned differences stay right across the tick count's wrap.
    const uint32_t elapsed = elapsedMs();
    if (elapsed >= budget)
        return false;
    const uint32_t left = budget - elapsed;
    clock.sleep(delay < left ? delay : left);
    delay = delay * 2 < kLongestDelayMs ? delay * 2 : kLongestDelayMs;
    ++count;
    return true;
}
