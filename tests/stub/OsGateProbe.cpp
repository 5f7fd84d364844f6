// Prints what the gate answers for a set of versions, and the version the
// system reports, one per line ("6.1.0 1"): os_gate_versions.sh runs it under
// each Windows version that Wine can pretend to be.
#include "OsGate_win.h"

#include <windows.h>

#include <cstdio>

int main()
{
    OSVERSIONINFOEXW reported;
    ZeroMemory(&reported, sizeof(reported));
    reported.dwOSVersionInfoSize = sizeof(reported);
    if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&reported)))
        return 2;
    std::printf("reported %lu.%lu.%u\n", reported.dwMajorVersion, reported.dwMinorVersion,
                reported.wServicePackMajor);

    const uint16_t queries[][3] = {
        {6, 1, 0},  // the stub's own gate
        {5, 1, 3}, {6, 0, 2}, {6, 0, 3}, {6, 1, 1}, {6, 1, 2},
        {6, 2, 0}, {6, 3, 0}, {10, 0, 0},
    };
    for (const auto& q : queries)
        std::printf("%u.%u.%u %d\n", q[0], q[1], q[2], isOsVersionOrGreater(q[0], q[1], q[2]) ? 1 : 0);
    return 0;
}
