#pragma once
// Helpers for the log tests: fresh folders, whole-file reads, and running
// log_scenario (a process of its own, as the service is a process singleton).
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "CommandLine.h"

namespace logtest {

inline std::wstring ownFolder()
{
    wchar_t buffer[32768];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, 32768);
    const std::wstring path(buffer, length);
    return path.substr(0, path.find_last_of(L'\\') + 1);
}

// A new, empty folder with a trailing backslash. Wine reuses process ids, so
// a name left by an earlier run is skipped.
inline std::wstring freshFolder(const wchar_t* name)
{
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, temp);
    static int counter = 0;
    for (;;) {
        const std::wstring folder = std::wstring(temp) + L"logger_" +
                                    std::to_wstring(GetCurrentProcessId()) + L"_" +
                                    std::to_wstring(++counter) + L"_" + name + L"\\";
        if (CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() != ERROR_ALREADY_EXISTS)
            return folder;
    }
}

inline bool fileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline std::string readBytes(const std::wstring& path)
{
    std::string content;
    if (FILE* file = _wfopen(path.c_str(), L"rb")) {
        char buffer[65536];
        size_t got;
        while ((got = fread(buffer, 1, sizeof(buffer), file)) > 0)
            content.append(buffer, got);
        fclose(file);
    }
    return content;
}

inline bool writeBytes(const std::wstring& path, const std::string& content)
{
    FILE* file = _wfopen(path.c_str(), L"wb");
    if (!file)
        return false;
    const bool ok = fwrite(content.data(), 1, content.size(), file) == content.size();
    return fclose(file) == 0 && ok;
}

// Runs log_scenario with the arguments and waits; the exit code, or -1 when it
// could not be started or did not end in time.
inline long runScenario(const std::vector<std::wstring>& arguments,
                        const std::wstring& currentDirectory = std::wstring())
{
    ArgumentVector vector{ownFolder() + L"log_scenario.exe"};
    vector.insert(vector.end(), arguments.begin(), arguments.end());
    std::wstring line = buildCommandLine(vector);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(vector[0].c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                        currentDirectory.empty() ? nullptr : currentDirectory.c_str(), &startup,
                        &process))
        return -1;
    CloseHandle(process.hThread);
    long result = -1;
    if (WaitForSingleObject(process.hProcess, 120000) == WAIT_OBJECT_0) {
        DWORD code = 0;
        if (GetExitCodeProcess(process.hProcess, &code))
            result = static_cast<long>(code);
    }
    CloseHandle(process.hProcess);
    return result;
}

// The narrow form the log file gets of a test's text (no surrogates, no
// widened narrow bytes in it): Latin-1 as is, anything else '?'.
inline std::string narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t unit : text)
        out += unit <= 0xFF ? static_cast<char>(unit) : '?';
    return out;
}

} // namespace logtest
