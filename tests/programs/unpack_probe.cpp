// Unpacks an installer's archive as the stub does, with a chosen number of
// workers (Wine reports every CPU whatever the affinity, so the stub's own
// count cannot be forced there):
//   unpack_probe INSTALLER WORKDIR WORKERS LOG
// WORKDIR becomes the current directory, the work area; LOG is the log's
// path without ".txt". Exit code 0 when every entry was handled, 1 when the
// unpack failed, 2 for a bad command line or a log or folder that cannot be had.
#include <windows.h>

#include <cwchar>

#include "LogService_win.h"
#include "UnpackDriver_win.h"

int wmain(int argc, wchar_t** argv)
{
    if (argc != 5)
        return 2;
    const unsigned long workers = wcstoul(argv[3], nullptr, 10);
    if (workers < 1 || workers > 64 || !SetCurrentDirectoryW(argv[2]))
        return 2;
    InitLogLock();
    if (!Logger::Instance().Init(argv[4], false))
        return 2;
    UnpackOptions options;
    options.workers = static_cast<unsigned>(workers);
    bool staged = false;
    return unpackInstaller(argv[1], options, &staged) ? 0 : 1;
}
