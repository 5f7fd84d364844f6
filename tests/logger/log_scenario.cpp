// One run of the log service, as the tests need it: the service is a process
// singleton, so every fresh start is a fresh process.
//   log_scenario records PATH          a fixed set of records (see below)
//   log_scenario empty                 Init with an empty and a null path
//   log_scenario debug PATH            debugging on: Debug and Help written
//   log_scenario filter PATH INPUT     dumps each line of INPUT (UTF-16, '\n'
//                                      separated) through the command-line filter
//   log_scenario fill PATH COUNT TEXT  COUNT records "<i> TEXT"
//   log_scenario moved FOLDER COUNT    COUNT records into FOLDER\log, but the
//                                      folder is moved once the service runs
// The exit code is 0 unless the scenario says otherwise.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#define LOG_SOURCE_FILE "tests/logger/log_scenario"
#include "LogRecord.h"
#include "LogService_win.h"
#include "LoggerFilter.h"

namespace {

const char* const kFunction = "log_scenario";

int records(const wchar_t* path)
{
    {
        // Made before the service exists: never written, even though the
        // service is started before the record ends.
        LogRecord early(LogLevel::Event, LOG_SOURCE_FILE, kFunction, __LINE__);
        early << "made before the service";
        Logger::Instance();
        // Handed over while the service is not started: dropped, no number used.
        LOG_RECORD(LogLevel::Event, kFunction) << "before Init";
        if (!Logger::Instance().Init(path, false))
            return 3;
    }
    LOG_RECORD(LogLevel::Event, kFunction) << "plain";
    LOG_RECORD(LogLevel::Debug, kFunction) << "hidden debug";
    LOG_RECORD(LogLevel::Help, kFunction) << "hidden help";
    LOG_RECORD(LogLevel::Event, kFunction) << "after debug";
    LOG_RECORD(static_cast<LogLevel>(7), kFunction) << "level seven";
    LOG_RECORD(LogLevel::Unused, kFunction) << "never";
    LOG_RECORD(LogLevel::Event, kFunction) << "line one\nline two";
    LOG_RECORD(LogLevel::Event, kFunction) << L"cut\u0100after";
    LOG_RECORD(LogLevel::Event, kFunction)
        << static_cast<int32_t>(-5) << "," << static_cast<uint32_t>(4294967295u) << ","
        << static_cast<int32_t>(0) << "," << static_cast<int32_t>(-2147483647 - 1);
    LOG_RECORD(LogLevel::Event, kFunction) << "caf\xe9" << L"|\u00e9|\u041a\u0416";
    LOG_RECORD(LogLevel::Event, kFunction);
    LOG_RECORD(LogLevel::Error, kFunction) << "error";
    LOG_RECORD(LogLevel::Warning, kFunction) << "warning";
    LOG_RECORD(LogLevel::Action, kFunction) << "action";
    LOG_RECORD(LogLevel::Event, kFunction)
        << std::string("narrow") << std::wstring(L"+wide") << L"+pointer" << std::string("a\0b", 3);
    Logger::Instance().Write(LogLevel::Event, nullptr, nullptr, nullptr, 0);
    Logger::Instance().Write(LogLevel::Event, kFunction, L"direct", LOG_SOURCE_FILE, __LINE__);

    // A second start is refused and must not touch another file.
    const std::wstring other = std::wstring(path) + L"_other";
    const bool again = Logger::Instance().Init(other.c_str(), true);
    LOG_RECORD(LogLevel::Event, kFunction) << "second Init " << static_cast<int32_t>(again);
    LOG_RECORD(LogLevel::Debug, kFunction) << "debug still off";
    return 0;
}

int empty()
{
    int result = 0;
    if (Logger::Instance().Init(L"", false))
        result |= 1;
    if (Logger::Instance().Init(nullptr, false))
        result |= 2;
    LOG_RECORD(LogLevel::Event, kFunction) << "dropped";
    return result;
}

int debug(const wchar_t* path)
{
    if (!Logger::Instance().Init(path, true))
        return 3;
    LOG_RECORD(LogLevel::Debug, kFunction) << "debug shown";
    LOG_RECORD(LogLevel::Help, kFunction) << "help shown";
    LoggerFilter::DumpCommandLineToLog("Cmdline Param", L"\"C:\\a b\\setup.exe\" /authToken=x y");
    LoggerFilter::DumpCommandLineToLog(nullptr, nullptr);
    return 0;
}

int filter(const wchar_t* path, const wchar_t* inputPath)
{
    FILE* input = _wfopen(inputPath, L"rb");
    if (!input)
        return 4;
    std::wstring content;
    wchar_t unit;
    while (fread(&unit, sizeof(unit), 1, input) == 1)
        content += unit;
    fclose(input);

    if (!Logger::Instance().Init(path, false))
        return 3;
    size_t start = 0;
    for (;;) {
        const size_t end = content.find(L'\n', start);
        if (end == std::wstring::npos)
            break;
        LoggerFilter::DumpCommandLineToLog("Cmdline Param",
                                           content.substr(start, end - start).c_str());
        start = end + 1;
    }
    return 0;
}

int fill(const wchar_t* path, int count, const wchar_t* text)
{
    if (!Logger::Instance().Init(path, false))
        return 3;
    for (int i = 0; i < count; ++i)
        LOG_RECORD(LogLevel::Event, kFunction) << static_cast<int32_t>(i) << " " << text;
    return 0;
}

// The log's folder is moved away once the service runs, so the reopen after
// the first cut fails. Wine allows moving a folder that holds an open file;
// Windows refuses, and then the scenario ends with 6.
int moved(const wchar_t* folder, int count)
{
    if (!Logger::Instance().Init((std::wstring(folder) + L"\\log").c_str(), false))
        return 3;
    if (!MoveFileW(folder, (std::wstring(folder) + L"_moved").c_str()))
        return 6;
    const std::wstring padding(200, L'm');
    for (int i = 0; i < count; ++i)
        LOG_RECORD(LogLevel::Event, kFunction) << static_cast<int32_t>(i) << " " << padding;
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    InitLogLock();
    if (argc < 2)
        return 2;
    const std::wstring scenario = argv[1];
    if (scenario == L"records" && argc == 3)
        return records(argv[2]);
    if (scenario == L"empty")
        return empty();
    if (scenario == L"debug" && argc == 3)
        return debug(argv[2]);
    if (scenario == L"filter" && argc == 4)
        return filter(argv[2], argv[3]);
    if (scenario == L"fill" && argc == 5)
        return fill(argv[2], _wtoi(argv[3]), argv[4]);
    if (scenario == L"moved" && argc == 4)
        return moved(argv[2], _wtoi(argv[3]));
    return 2;
}
