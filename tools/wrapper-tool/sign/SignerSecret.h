#pragma once
#include <string>

#include "cli/ExitCode.h"
#include "sign/SignerCommand.h"

// The secret the signer reads on its standard input (a PKCS#12 password or
// a token's PIN), or empty when it needs none. It comes from the variable
// named by --password-env or --pin-env, or for a token without --pin-env
// from a prompt on the terminal, echo off. It is never put on a command
// line or in a file. False, with the exit code and why, when it cannot be had.
bool signerSecret(const SignRequest& request, std::string& secret, ExitCode& code, std::string& error);
