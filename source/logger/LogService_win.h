#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

#include "LogLevel.h"

// The process-wide recursive log lock. Created once, never destroyed.
void InitLogLock();
void EnterLogLock();
void LeaveLogLock();

// The log service: one instance per process, created on first use, never
// destroyed. Appends one flushed line per record to "<path>.txt".
class Logger {
public:
    static Logger& Instance();
    static bool Exists();

    bool Init(const wchar_t* path, bool enableDebug);
    bool Write(LogLevel level, const char* functionName, const wchar_t* text,
               const char* sourceFile, int32_t line);
    static const wchar_t* LevelName(LogLevel level);

    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

private:
    struct LogEntry;
    Logger() = default;

    bool OpenLogFile(const wchar_t* path);
    void WriteLine(const LogEntry& entry);
    std::wstring FormatLine(const LogEntry& entry) const;
    void TrimLogFile();

    bool opened = false;
    FILE* logStream = nullptr;
    std::wstring logPath;
    int32_t sequence = 0;
    uint32_t logSize = 0;
    bool debugEnabled = false;
};

// The local date and time as the C library's "%c" prints it, cut at any line feed.
std::wstring CurrentDateTimeString();
