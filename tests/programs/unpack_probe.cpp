// Unpacks an installer's archive as the stub does, with a chosen number of
// workers (Wine reports every CPU whatever the affinity, so the stub's own
// count cannot be forced there):
//   unpack_probe INSTALLER WORKDIR WORKERS LOG [--memory]
// WORKDIR becomes the current directory, the work area; LOG is the log's
// path without ".txt". Exit code 0 when every entry was handled, 1 when the
// unpack failed, 2 for a bad command line or a log or folder that cannot be had.
// --memory prints the process's peak of committed private memory afterwards
// (the bench's figure for a 32-bit stub's budget).
#define PSAPI_VERSION 2
#include <windows.h>
#include <psapi.h>

#include <cstdio>

#include <cwchar>

#include "LogService_win.h"
#include "UnpackDriver_win.h"

int wmain(int argc, wchar_t** argv)
{
    const bool memory = argc == 6 && wcscmp(argv[5], L"--memory") == 0;
    if (argc != 5 && !memory)
        return 2;
    const unsigned long workers = wcstoul(argv[3], nullptr, 10);
    if (workers < 1 || workers > 64 || !SetCurrentDirectoryW(argv[2]))
        return 2;
    InitLogLock();
    if (!Logger::Instance().Init(argv[4], false))
        return 2;
    UnpackOptions options;
    options.workers = static_cast<unsigned>(workers);
    bool staged = false;
    const bool unpacked = unpackInstaller(argv[1], options, &staged);
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (memory && GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        std::printf("peak private bytes: %llu\n", static_cast<unsigned long long>(counters.PeakPagefileUsage));
    return unpacked ? 0 : 1;
}
