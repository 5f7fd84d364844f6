#include "platform/ExternalTool.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <windows.h>

#include "CommandLine.h"
#include "Owned_win.h"
#include "platform/WidePath.h"
#else
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/InterruptCleanup.h"

extern char** environ;
#endif

namespace fs = std::filesystem;

std::vector<std::string> outputLines(const std::string& output)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find('\n', start);
        if (end == std::string::npos)
            end = output.size();
        std::string line = output.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

bool programOnPath(const std::string& name)
{
    const char* path = std::getenv("PATH");
    if (path == nullptr)
        return false;
#ifdef _WIN32
    const char separator = ';';
    const std::string file = name + ".exe";
#else
    const char separator = ':';
    const std::string& file = name;
#endif
    std::string folders = path;
    size_t start = 0;
    while (start <= folders.size()) {
        size_t end = folders.find(separator, start);
        if (end == std::string::npos)
            end = folders.size();
        if (end > start) {
            std::error_code code;
            if (fs::is_regular_file(fs::path(folders.substr(start, end - start)) / file, code))
                return true;
        }
        start = end + 1;
    }
    return false;
}

#ifdef _WIN32

int runProgram(const std::vector<std::string>& command, std::string& output, const std::string& input)
{
    output.clear();
    if (!input.empty())
        return -1;
    ArgumentVector arguments;
    for (const std::string& argument : command)
        arguments.push_back(widePath(argument));
    std::wstring line = buildCommandLine(arguments);
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    UniqueHandle readEnd, writeEnd;
    if (!CreatePipe(readEnd.receive(), writeEnd.receive(), &inherit, 0))
        return -1;
    SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd.get();
    startup.hStdError = writeEnd.get();
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    UniqueHandle processHandle(process.hProcess), threadHandle(process.hThread);
    // Our copy of the write end closed, the read below ends with the child.
    writeEnd.reset();
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(readEnd.get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
        output.append(buffer, got);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    return int(code);
}

#else

namespace {

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

} // namespace

int runProgram(const std::vector<std::string>& command, std::string& output, const std::string& input)
{
    output.clear();
    const int inputEnd = input.empty() ? -1 : inputPipe(input);
    if (!input.empty() && inputEnd < 0)
        return -1;
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
        if (inputEnd >= 0)
            close(inputEnd);
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (inputEnd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, inputEnd, 0);
        posix_spawn_file_actions_addclose(&actions, inputEnd);
    }
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 2);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[1]);
    std::vector<char*> argv;
    for (const std::string& argument : command)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    // The child starts with no signal held back, whatever we hold here.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    pid_t child = 0;
    int started = 0;
    {
        SignalsHeld held;
        started = posix_spawnp(&child, argv[0], &actions, &attributes, argv.data(), environ);
        if (started == 0)
            stopOnInterrupt(child);
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(pipeEnds[1]);
    if (inputEnd >= 0)
        close(inputEnd);
    if (started != 0) {
        close(pipeEnds[0]);
        return -1;
    }
    char buffer[4096];
    ssize_t got;
    while ((got = read(pipeEnds[0], buffer, sizeof buffer)) > 0)
        output.append(buffer, size_t(got));
    close(pipeEnds[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    stopOnInterrupt(0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

#endif
