#include "platform/InterruptCleanup.h"

#include <csignal>
#include <cstdio>
#include <cstring>

#include "cli/Progress.h"

#ifdef _WIN32
#include <direct.h>
#include <io.h>
#define writeStderr(text, size) _write(2, text, unsigned(size))
#else
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#define writeStderr(text, size) (void)!write(2, text, size)
#endif

namespace {

// Fixed storage: the handler may only read what is already in place.
char pendingPath[4096];
char pendingFolder[4096];
volatile std::sig_atomic_t armed = 0;
const int kSlots = 64;
char slotPaths[kSlots][4096];
volatile std::sig_atomic_t slotArmed[kSlots] = {};
#ifndef _WIN32
volatile pid_t runningChild = 0;
volatile int echoOffTerminal = -1;
struct termios terminalSettings;
#endif
bool installed = false;

#ifdef _WIN32
const int kEndingSignals[] = {SIGINT, SIGTERM, SIGBREAK};
#else
const int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
#endif

extern "C" void onInterrupt(int signalNumber)
{
#ifndef _WIN32
    // The program's whole group: whatever it started goes with it.
    const pid_t child = runningChild;
    if (child > 0) {
        kill(-child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
    if (echoOffTerminal >= 0)
        tcsetattr(echoOffTerminal, TCSANOW, &terminalSettings);
#endif
    if (armed) {
        armed = 0;
#ifdef _WIN32
        std::remove(pendingPath);
        if (pendingFolder[0] != '\0')
            _rmdir(pendingFolder);
#else
        unlink(pendingPath);
        if (pendingFolder[0] != '\0')
            rmdir(pendingFolder);
#endif
    }
    for (int slot = 0; slot < kSlots; ++slot)
        if (slotArmed[slot]) {
            slotArmed[slot] = 0;
#ifdef _WIN32
            std::remove(slotPaths[slot]);
#else
            unlink(slotPaths[slot]);
#endif
        }
    if (progressLineShown())
        writeStderr("\n", 1);
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

// Once, and only for the signals the caller did not choose to ignore.
void installHandlers()
{
    if (installed)
        return;
    for (int number : kEndingSignals) {
#ifndef _WIN32
        // A signal the caller chose to ignore (nohup, a shell's trap) stays ignored.
        struct sigaction current;
        if (sigaction(number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN)
            continue;
#endif
        std::signal(number, onInterrupt);
    }
    installed = true;
}

} // namespace

void removeOnInterrupt(const std::string& tempPath, const std::string& folder)
{
    armed = 0;
    if (tempPath.size() >= sizeof pendingPath || folder.size() >= sizeof pendingFolder)
        return;
    std::memcpy(pendingPath, tempPath.c_str(), tempPath.size() + 1);
    std::memcpy(pendingFolder, folder.c_str(), folder.size() + 1);
    installHandlers();
    armed = 1;
}

int removeOnInterruptSlot(const std::string& tempPath)
{
    if (tempPath.size() >= sizeof slotPaths[0])
        return -1;
    for (int slot = 0; slot < kSlots; ++slot)
        if (!slotArmed[slot]) {
            std::memcpy(slotPaths[slot], tempPath.c_str(), tempPath.size() + 1);
            installHandlers();
            slotArmed[slot] = 1;
            return slot;
        }
    return -1;
}

void forgetOnInterruptSlot(int slot)
{
    if (slot >= 0 && slot < kSlots)
        slotArmed[slot] = 0;
}

void forgetOnInterrupt()
{
    armed = 0;
}

#ifndef _WIN32
void stopOnInterrupt(pid_t child)
{
    if (child > 0)
        installHandlers();
    runningChild = child;
}

void restoreTerminalOnInterrupt(int fd, const struct termios* saved)
{
    echoOffTerminal = -1;
    if (fd < 0 || saved == nullptr)
        return;
    terminalSettings = *saved;
    installHandlers();
    echoOffTerminal = fd;
}
#endif

#ifdef _WIN32
SignalsHeld::SignalsHeld() {}
SignalsHeld::~SignalsHeld() {}
#else
SignalsHeld::SignalsHeld()
{
    sigset_t held;
    sigemptyset(&held);
    for (int number : kEndingSignals)
        sigaddset(&held, number);
    sigprocmask(SIG_BLOCK, &held, &saved_);
}

SignalsHeld::~SignalsHeld()
{
    sigprocmask(SIG_SETMASK, &saved_, nullptr);
}
#endif
