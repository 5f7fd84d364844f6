#include "platform/InterruptCleanup.h"

#include <csignal>
#include <cstdio>
#include <cstring>

#include "cli/Progress.h"

#ifdef _WIN32
#include <io.h>
#define writeStderr(text, size) _write(2, text, unsigned(size))
#else
#include <unistd.h>
#define writeStderr(text, size) (void)!write(2, text, size)
#endif

namespace {

// Fixed storage: the handler may only read what is already in place.
char pendingPath[4096];
volatile std::sig_atomic_t armed = 0;
bool installed = false;

extern "C" void onInterrupt(int signalNumber)
{
    if (armed) {
        armed = 0;
#ifdef _WIN32
        std::remove(pendingPath);
#else
        unlink(pendingPath);
#endif
    }
    if (progressLineShown())
        writeStderr("\n", 1);
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

} // namespace

void removeOnInterrupt(const std::string& tempPath)
{
    armed = 0;
    if (tempPath.size() >= sizeof pendingPath)
        return;
    std::memcpy(pendingPath, tempPath.c_str(), tempPath.size() + 1);
    if (!installed) {
        std::signal(SIGINT, onInterrupt);
        std::signal(SIGTERM, onInterrupt);
        installed = true;
    }
    armed = 1;
}

void forgetOnInterrupt()
{
    armed = 0;
}
