#include "Launch_win.h"

#include <windows.h>
#include <shellapi.h>

#include <vector>

void appendOwnArguments(ArgumentVector& arguments)
{
    int count = 0;
    LPWSTR* split = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!split)
        return;
    // Index 0 is the wrapper's own program name.
    for (int i = 1; i < count; ++i)
        arguments.emplace_back(split[i]);
    LocalFree(split);
}

bool launchProcess(const ArgumentVector& arguments, uint32_t* errorCode)
{
    if (arguments.empty()) {
        if (errorCode)
            *errorCode = ERROR_INVALID_PARAMETER;
        return false;
    }

    // CreateProcessW may write into the command line it is given.
    const std::wstring line = buildCommandLine(arguments);
    std::vector<wchar_t> writable(line.begin(), line.end());
    writable.push_back(L'\0');

    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof(process));

    // The application name is given, so no search path and no added extension:
    // a bare name means a file in the current directory.
    if (!CreateProcessW(arguments[0].c_str(), writable.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &startup, &process)) {
        if (errorCode)
            *errorCode = GetLastError();
        return false;
    }
    // Nothing is waited for or read back from the started program.
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}
