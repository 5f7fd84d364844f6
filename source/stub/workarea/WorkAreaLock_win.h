#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

// One run at a time per work area, through a named mutex in the session's
// Local\ namespace. A second run of the same version would otherwise
// rewrite files under the first run's freshly started inner setup, and both
// would log into the same file at once. Released when the object goes.
class WorkAreaLock {
public:
    // Long enough for any unpack; a holder that hangs delays us no more.
    static const uint32_t kDefaultTimeoutMs = 5 * 60 * 1000;

    WorkAreaLock() = default;
    ~WorkAreaLock();
    WorkAreaLock(const WorkAreaLock&) = delete;
    WorkAreaLock& operator=(const WorkAreaLock&) = delete;

    // Waits up to `timeoutMs` for the lock of `workArea`. True when held
    // afterwards; a mutex whose holder died counts as held. False (time out,
    // or no mutex to be had) means the run goes on without it.
    bool acquire(const std::wstring& workArea, uint32_t timeoutMs = kDefaultTimeoutMs);

    bool held() const { return owned; }
    // Whether another run held the lock when it was asked for, and for how
    // long this run waited (until it got it or gave up).
    bool waited() const { return hadToWait; }
    uint32_t waitedMs() const { return waitMs; }

private:
    HANDLE mutex = nullptr;
    bool owned = false;
    bool hadToWait = false;
    uint32_t waitMs = 0;
};

// The mutex name for a work area: a path may hold '\', which a name in a
// namespace may not, so the path (ASCII letters folded, as the file system
// does not tell case) is hashed.
std::wstring workAreaLockName(const std::wstring& workArea);
