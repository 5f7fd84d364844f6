// Running another program on POSIX: its own process group, a deadline, and
// the whole group killed before we let go of it.
#include <cerrno>
#include <chrono>
#include <csignal>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/ExternalTool.h"
#include "platform/InterruptCleanup.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// A pipe already holding `input`, its write end closed: the child reads it
// to the end. Written before the child starts, so no SIGPIPE can reach us.
int inputPipe(const std::string& input)
{
    int ends[2];
    if (input.size() > kLargestProgramInput || pipe(ends) != 0)
        return -1;
    const bool written = write(ends[1], input.data(), input.size()) == ssize_t(input.size());
    close(ends[1]);
    if (!written) {
        close(ends[0]);
        return -1;
    }
    return ends[0];
}

// A file descriptor closed when it goes.
struct Descriptor {
    int fd = -1;
    ~Descriptor() { reset(); }
    void reset()
    {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
};

// Whether the group's leader has ended. It is left a zombie (WNOWAIT):
// while it is, its process ID, and so its group's, cannot be taken by
// another process, and killing the group cannot hit a stranger.
bool leaderEnded(pid_t leader)
{
    siginfo_t info{};
    return waitid(P_PID, id_t(leader), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == leader;
}

// Starts `command` as the leader of a new process group, its output into
// `outputEnd`, its input from `inputEnd` (or ours when -1), armed to be
// killed by a signal that ends us. 0, or the error number.
int startLeader(const std::vector<std::string>& command, int inputEnd, int outputEnd, int readEnd, pid_t& leader)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (inputEnd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, inputEnd, 0);
        posix_spawn_file_actions_addclose(&actions, inputEnd);
    }
    posix_spawn_file_actions_adddup2(&actions, outputEnd, 1);
    posix_spawn_file_actions_adddup2(&actions, outputEnd, 2);
    posix_spawn_file_actions_addclose(&actions, readEnd);
    posix_spawn_file_actions_addclose(&actions, outputEnd);
    std::vector<char*> argv;
    for (const std::string& argument : command)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    // The child starts with no signal held back, whatever we hold here, and
    // in a group of its own: the group is what is killed.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);
    int started = 0;
    {
        SignalsHeld held;
        started = posix_spawnp(&leader, argv[0], &actions, &attributes, argv.data(), environ);
        if (started == 0)
            stopOnInterrupt(leader);
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return started;
}

// Reads the group's output until its leader has ended and every writer is
// gone. At the deadline the group is killed; once the leader has ended,
// whatever it left running (holding the pipe, or not) is killed too.
void collect(pid_t leader, int readEnd, Clock::time_point deadline, ProgramRun& run)
{
    bool open = true;
    bool ended = false;
    bool killed = false;
    char buffer[4096];
    while (open || !ended) {
        if (!ended && leaderEnded(leader))
            ended = true;
        if (!killed && (ended || Clock::now() >= deadline)) {
            if (!ended)
                run.end = ProgramRun::End::TimedOut;
            kill(-leader, SIGKILL);
            killed = true;
        }
        if (!open) {
            poll(nullptr, 0, 20);
            continue;
        }
        pollfd ready{readEnd, POLLIN, 0};
        if (poll(&ready, 1, 50) <= 0)
            continue;
        const ssize_t got = read(readEnd, buffer, sizeof buffer);
        if (got > 0)
            run.output.append(buffer, size_t(got));
        else if (got == 0 || errno != EINTR)
            open = false;
    }
}

} // namespace

ProgramRun runProgram(const std::vector<std::string>& command, unsigned deadlineSeconds, const std::string& input)
{
    ProgramRun run;
    run.deadlineSeconds = deadlineSeconds;
    Descriptor inputEnd;
    if (!input.empty() && (inputEnd.fd = inputPipe(input)) < 0) {
        run.systemError = input.size() > kLargestProgramInput ? E2BIG : errno;
        return run;
    }
    int ends[2];
    if (pipe(ends) != 0) {
        run.systemError = errno;
        return run;
    }
    Descriptor readEnd{ends[0]}, writeEnd{ends[1]};
    fcntl(readEnd.fd, F_SETFD, FD_CLOEXEC);
    pid_t leader = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(deadlineSeconds);
    run.systemError = startLeader(command, inputEnd.fd, writeEnd.fd, readEnd.fd, leader);
    // Our copies closed, the pipe ends when the group's writers are gone.
    writeEnd.reset();
    inputEnd.reset();
    if (run.systemError != 0)
        return run;
    run.end = ProgramRun::End::Exited;
    collect(leader, readEnd.fd, deadline, run);
    int status = 0;
    {
        // The leader reaped, the group's ID is free again: not to be killed after.
        SignalsHeld held;
        stopOnInterrupt(0);
        while (waitpid(leader, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (run.end == ProgramRun::End::TimedOut)
        return run;
    if (WIFEXITED(status)) {
        run.exitCode = WEXITSTATUS(status);
    } else {
        run.end = ProgramRun::End::Killed;
        run.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    }
    return run;
}
