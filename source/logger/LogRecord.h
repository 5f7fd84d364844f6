#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "LogLevel.h"

// One log line in the making: built on the stack, values streamed into it, and
// handed to the log service when it goes out of scope. A record made before the
// service exists is never written.
class LogRecord {
public:
    LogRecord(LogLevel level, const char* sourceFile, const char* functionName, int32_t line);
    ~LogRecord();
    LogRecord(const LogRecord&) = delete;
    LogRecord& operator=(const LogRecord&) = delete;

    LogRecord& operator<<(const char* text);           // bytes widened by sign extension
    LogRecord& operator<<(const std::string& text);    // same
    LogRecord& operator<<(const wchar_t* text);
    LogRecord& operator<<(const std::wstring& text);
    LogRecord& operator<<(int32_t value);               // as "%d"
    LogRecord& operator<<(uint32_t value);              // as "%u"

private:
    LogLevel level;
    const char* sourceFile;
    const char* functionName;
    int32_t line;
    std::wstring text;
};

// The usual way to log: LOG_RECORD(LogLevel::Event, "prepareWorkArea") << "Version: " << ...;
#define LOG_RECORD(level, function) LogRecord((level), LOG_SOURCE_FILE, (function), __LINE__)

// A record kept instead of written, to be written later in a fixed order.
struct KeptLogRecord {
    LogLevel level;
    const char* sourceFile;
    const char* functionName;
    int32_t line;
    std::wstring text;
};

// While one lives, the records made on its thread go into `into` instead of
// the log: work done on several threads is then logged in the order one
// thread would have logged it (writeKeptRecords). One per thread at a time.
class LogCapture {
public:
    explicit LogCapture(std::vector<KeptLogRecord>& into);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
};

// Writes kept records to the log, in their order.
void writeKeptRecords(const std::vector<KeptLogRecord>& records);
