// The work-area lock between runs: its name, and how a run waits for another.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <thread>

#include "WorkAreaLock_win.h"

namespace {

const wchar_t kArea[] = L"C:\\users\\Ann\\AppData\\Local\\Norvik\\VozeDozav\\10.99.0.21465";

TEST(WorkAreaLockName, OneNamePerFolderWhateverTheAsciiCase)
{
    const std::wstring name = workAreaLockName(kArea);
    EXPECT_EQ(name.rfind(L"Local\\", 0), 0u);
    // Below the namespace a name may hold no further backslash.
    EXPECT_EQ(name.find(L'\\', 6), std::wstring::npos);
    EXPECT_EQ(workAreaLockName(
                  L"c:\\USERS\\ann\\appdata\\LOCAL\\norvik\\VOZEDOZAV\\10.99.0.21465"),
              name);
    EXPECT_NE(workAreaLockName(L"C:\\users\\Ann\\AppData\\Local\\Norvik\\VozeDozav\\10.99.0.21466"),
              name);
    EXPECT_NE(workAreaLockName(L"C:\\users\\Bob\\AppData\\Local\\Norvik\\VozeDozav\\10.99.0.21465"),
              name);
}

// Another run, played by a thread: it takes the lock and lets go after
// `holdMs`, releasing it or, as a killed run, ending while it holds it.
struct OtherRun {
    DWORD holdMs;
    bool releases;
};

struct WaitCase {
    const char* what;
    bool other;
    OtherRun run;
    uint32_t timeoutMs;
    bool held;
    bool waited;
};

TEST(WorkAreaLock, WaitsForAnotherRunUpToItsTimeout)
{
    const WaitCase cases[] = {
        {"free", false, {0, true}, 5000, true, false},
        {"released while waiting", true, {300, true}, 20000, true, true},
        {"held past the timeout", true, {1000, true}, 200, false, true},
        {"holder ended without releasing", true, {0, false}, 5000, true, false},
    };
    int index = 0;
    for (const WaitCase& c : cases) {
        SCOPED_TRACE(c.what);
        const std::wstring area = std::wstring(kArea) + L"\\case" + std::to_wstring(++index);
        HANDLE taken = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        std::thread other;
        if (c.other) {
            other = std::thread([&area, &c, taken] {
                HANDLE mutex = CreateMutexW(nullptr, FALSE, workAreaLockName(area).c_str());
                WaitForSingleObject(mutex, INFINITE);
                SetEvent(taken);
                Sleep(c.run.holdMs);
                if (c.run.releases)
                    ReleaseMutex(mutex);
                CloseHandle(mutex);
            });
            ASSERT_EQ(WaitForSingleObject(taken, 10000), WAIT_OBJECT_0);
            if (!c.run.releases)
                other.join();   // gone, the lock still its own
        }
        {
            WorkAreaLock lock;
            EXPECT_EQ(lock.acquire(area, c.timeoutMs), c.held);
            EXPECT_EQ(lock.held(), c.held);
            EXPECT_EQ(lock.waited(), c.waited);
        }
        if (other.joinable())
            other.join();
        CloseHandle(taken);
        // Whatever happened, the lock is free again for the next run.
        WorkAreaLock next;
        EXPECT_TRUE(next.acquire(area, 0));
        EXPECT_FALSE(next.waited());
    }
}

} // namespace
