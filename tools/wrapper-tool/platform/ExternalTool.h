#pragma once
#include <cstddef>
#include <string>
#include <vector>

// Runs another program (osslsigncode, signtool) and waits for it.
// `command[0]` is looked up on PATH. Its stdout and stderr are collected in
// `output`. `input` (POSIX only, at most kLargestProgramInput bytes) is what
// it reads on its standard input, through a pipe: a secret given so is
// neither on a command line nor in a file. Returns its exit code, or -1
// when it could not be started.
// Within one pipe buffer: it is written before the program starts.
constexpr size_t kLargestProgramInput = 60000;
int runProgram(const std::vector<std::string>& command, std::string& output,
               const std::string& input = std::string());

// A program's output as lines, without their line ends ("\n" or "\r\n").
std::vector<std::string> outputLines(const std::string& output);

// Whether `name` is found on PATH (with ".exe" on Windows).
bool programOnPath(const std::string& name);
