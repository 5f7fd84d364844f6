#pragma once
#include <cstddef>
#include <string>
#include <vector>

// Runs another program (osslsigncode, signtool) and waits for it, but not
// forever: it runs in a process group of its own (a job object on Windows)
// that is killed whole when the deadline passes, when it ends (whatever it
// left running), and when a signal ends the tool. So no program we started
// outlives us.
//
// `command[0]` is looked up on PATH. Its stdout and stderr are collected in
// `output`. `input` (POSIX only, at most kLargestProgramInput bytes) is what
// it reads on its standard input, through a pipe: a secret given so is
// neither on a command line nor in a file.
// Within one pipe buffer: it is written before the program starts.
constexpr size_t kLargestProgramInput = 60000;

// How long a program may run unless WRAPPER_PROGRAM_TIMEOUT (seconds, at
// least 1) says otherwise: signing with a time-stamping service included.
constexpr unsigned kDefaultProgramSeconds = 120;
unsigned programDeadlineSeconds();

struct ProgramRun {
    enum class End {
        Exited,     // ran to its end: `exitCode`
        NotStarted, // could not be started: `systemError`
        TimedOut,   // killed at the deadline, with everything it started
        Killed,     // ended by a signal (`signal`), not by the deadline
    };
    End end = End::NotStarted;
    int exitCode = -1;
    int signal = 0;
    int systemError = 0;
    unsigned deadlineSeconds = 0;
    std::string output;

    bool succeeded() const { return end == End::Exited && exitCode == 0; }
};

ProgramRun runProgram(const std::vector<std::string>& command, unsigned deadlineSeconds,
                      const std::string& input = std::string());

// Why `run` of the program `name` did not end well, for a message: e.g.
// "osslsigncode did not finish within 120 s and was stopped". Empty when it
// exited; its own reason is then in its output.
std::string programEndProblem(const std::string& name, const ProgramRun& run);

// A program's output as lines, without their line ends ("\n" or "\r\n").
std::vector<std::string> outputLines(const std::string& output);

// Whether `name` is found on PATH (with ".exe" on Windows).
bool programOnPath(const std::string& name);
