#pragma once
#include <string>
#include <vector>

// Runs another program (osslsigncode, signtool) and waits for it.
// `command[0]` is looked up on PATH. Its stdout and stderr are collected in
// `output`. Returns its exit code, or -1 when it could not be started.
int runProgram(const std::vector<std::string>& command, std::string& output);

// Whether `name` is found on PATH (with ".exe" on Windows).
bool programOnPath(const std::string& name);
