#include "sign/SignerSecret.h"

#include <cstdlib>

#ifndef _WIN32
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include "platform/InterruptCleanup.h"
#endif

#include "platform/ExternalTool.h"

namespace {

#ifndef _WIN32
// Reads one line from the controlling terminal, echo off, its settings put
// back after (and on a signal that ends us). Only when our input is a
// terminal: a script without --pin-env fails instead of waiting.
bool promptOnTerminal(const char* prompt, std::string& secret, std::string& error)
{
    const int fd = isatty(0) ? open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC) : -1;
    if (fd < 0) {
        error = "no terminal to ask for the token's PIN on: give --pin-env VAR";
        return false;
    }
    termios saved{};
    const bool settable = tcgetattr(fd, &saved) == 0;
    if (settable) {
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        restoreTerminalOnInterrupt(fd, &saved);
        tcsetattr(fd, TCSAFLUSH, &quiet);
    }
    (void)!write(fd, prompt, std::char_traits<char>::length(prompt));
    char c = 0;
    bool ended = false;
    while (secret.size() <= kLargestProgramInput && read(fd, &c, 1) == 1) {
        if (c == '\n' || c == '\r') {
            ended = true;
            break;
        }
        secret += c;
    }
    if (settable) {
        tcsetattr(fd, TCSAFLUSH, &saved);
        restoreTerminalOnInterrupt(-1, nullptr);
    }
    (void)!write(fd, "\n", 1);
    close(fd);
    if (!ended)
        error = "no PIN was typed";
    return ended;
}
#endif

} // namespace

bool signerSecret(const SignRequest& request, std::string& secret, ExitCode& code, std::string& error)
{
    const std::string& variable = !request.passwordEnv.empty() ? request.passwordEnv : request.pinEnv;
    code = kExitUsage;
    if (!variable.empty()) {
        const char* value = std::getenv(variable.c_str());
        if (value == nullptr) {
            error = "environment variable " + variable + " is not set";
            return false;
        }
        secret = value;
    } else if (!request.pkcs11Module.empty()) {
#ifndef _WIN32
        if (!promptOnTerminal("PIN of the token: ", secret, error))
            return false;
#endif
    }
    if (secret.size() > kLargestProgramInput) {
        error = "the secret in " + (variable.empty() ? std::string("the PIN typed") : variable) + " is too long";
        return false;
    }
    return true;
}
