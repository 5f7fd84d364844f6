#pragma once

// Exit codes of wrapper-tool, shown by --help as well.
enum ExitCode {
    kExitOk = 0,       // done; for verify: the stub would unpack the installer
    kExitRefused = 1,  // a check failed or the input was refused
    kExitUsage = 2,    // bad command line
    kExitIoError = 3,  // a file could not be read or written
};
