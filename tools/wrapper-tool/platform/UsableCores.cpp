#include "platform/UsableCores.h"

#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <sched.h>
#endif

unsigned usableCores()
{
#ifdef _WIN32
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    unsigned count = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system))
        for (; process != 0; process &= process - 1)
            ++count;
    // The mask is 0 for a process spread over several processor groups.
    if (count == 0)
        count = unsigned(GetActiveProcessorCount(ALL_PROCESSOR_GROUPS));
#else
    cpu_set_t set;
    CPU_ZERO(&set);
    unsigned count = sched_getaffinity(0, sizeof set, &set) == 0 ? unsigned(CPU_COUNT(&set)) : 0;
    if (count == 0)
        count = std::thread::hardware_concurrency();
#endif
    return count == 0 ? 1 : count;
}
