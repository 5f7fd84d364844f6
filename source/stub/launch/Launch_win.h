#pragma once
#include <cstdint>

#include "CommandLine.h"

// Appends the wrapper's own arguments (all but the program name), in order.
void appendOwnArguments(ArgumentVector& arguments);

// Starts arguments[0] with the quoted command line of the whole vector and
// returns at once, without waiting for it. False when it could not be
// started; `errorCode`, when given, then receives the system's error code.
bool launchProcess(const ArgumentVector& arguments, uint32_t* errorCode = nullptr);
