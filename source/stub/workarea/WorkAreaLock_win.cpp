#include "WorkAreaLock_win.h"

#include "Fnv1a.h"

namespace {

// FNV-1a, 64 bits, over the UTF-16 units of the path.
uint64_t hashPath(const std::wstring& path)
{
    uint64_t hash = kFnv1aStart;
    for (wchar_t unit : path) {
        if (unit >= L'a' && unit <= L'z')
            unit = static_cast<wchar_t>(unit - L'a' + L'A');
        const uint16_t value = static_cast<uint16_t>(unit);
        for (int shift = 0; shift < 16; shift += 8)
            hash = fnv1aByte(hash, static_cast<uint8_t>(value >> shift));
    }
    return hash;
}

bool ownedAfter(DWORD waitResult)
{
    // WAIT_ABANDONED: the last holder ended without releasing it (a killed
    // run); what it left half written is written again by this run.
    return waitResult == WAIT_OBJECT_0 || waitResult == WAIT_ABANDONED;
}

} // namespace

std::wstring workAreaLockName(const std::wstring& workArea)
{
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wstring name = L"Local\\Norvik.VozeDozav.WorkArea.";
    const uint64_t hash = hashPath(workArea);
    for (int shift = 60; shift >= 0; shift -= 4)
        name += digits[(hash >> shift) & 0xF];
    return name;
}

bool WorkAreaLock::acquire(const std::wstring& workArea, uint32_t timeoutMs)
{
    if (mutex)
        return owned;
    mutex = CreateMutexW(nullptr, FALSE, workAreaLockName(workArea).c_str());
    if (!mutex)
        return false;
    DWORD result = WaitForSingleObject(mutex, 0);
    if (result == WAIT_TIMEOUT) {
        hadToWait = true;
        const DWORD start = GetTickCount();
        result = WaitForSingleObject(mutex, timeoutMs);
        waitMs = GetTickCount() - start;
    }
    owned = ownedAfter(result);
    return owned;
}

WorkAreaLock::~WorkAreaLock()
{
    if (owned)
        ReleaseMutex(mutex);
    if (mutex)
        CloseHandle(mutex);
}
