#pragma once

// Each command takes the whole argv (argv[1] is its name) and returns the exit code.
int runPack(int argc, char** argv);
int runVerify(int argc, char** argv);
int runList(int argc, char** argv);
int runExtract(int argc, char** argv);
int runSign(int argc, char** argv);
