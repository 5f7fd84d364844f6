#pragma once
#include "CommandLine.h"

// Appends the wrapper's own arguments (all but the program name), in order.
void appendOwnArguments(ArgumentVector& arguments);

// Starts arguments[0] with the quoted command line of the whole vector and
// returns at once; a failed start is not reported.
void launchProcess(const ArgumentVector& arguments);
