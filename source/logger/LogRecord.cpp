#include "LogRecord.h"

#include <windows.h>

#include <cwchar>

#include "LogService_win.h"

namespace {

// Sign extension, so that bytes 0x80..0xFF become U+FF80..U+FFFF and come back
// as the same byte when the service keeps the low 8 bits.
void appendWidened(std::wstring& out, const char* bytes, size_t count)
{
    out.reserve(out.size() + count);
    for (size_t i = 0; i < count; ++i)
        out += static_cast<wchar_t>(static_cast<signed char>(bytes[i]));
}

// The capture of the running thread, if any, in a TLS slot made on first use
// (the compiler's thread_local would bring a threads library into the stub).
volatile LONG captureSlot = static_cast<LONG>(TLS_OUT_OF_INDEXES);

DWORD slot()
{
    const LONG known = captureSlot;
    if (known != static_cast<LONG>(TLS_OUT_OF_INDEXES))
        return static_cast<DWORD>(known);
    const DWORD fresh = TlsAlloc();
    const LONG was = InterlockedCompareExchange(&captureSlot, static_cast<LONG>(fresh),
                                                static_cast<LONG>(TLS_OUT_OF_INDEXES));
    if (was == static_cast<LONG>(TLS_OUT_OF_INDEXES))
        return fresh;
    TlsFree(fresh);
    return static_cast<DWORD>(was);
}

std::vector<KeptLogRecord>* captured()
{
    return static_cast<std::vector<KeptLogRecord>*>(TlsGetValue(slot()));
}

} // namespace

LogCapture::LogCapture(std::vector<KeptLogRecord>& into)
{
    TlsSetValue(slot(), &into);
}

LogCapture::~LogCapture()
{
    TlsSetValue(slot(), nullptr);
}

void writeKeptRecords(const std::vector<KeptLogRecord>& records)
{
    if (!Logger::Exists() || records.empty())
        return;
    EnterLogLock();
    for (const KeptLogRecord& record : records)
        Logger::Instance().Write(record.level, record.functionName, record.text.c_str(),
                                 record.sourceFile, record.line);
    LeaveLogLock();
}

LogRecord::LogRecord(LogLevel level, const char* sourceFile, const char* functionName,
                     int32_t line)
    : level(LogLevel::Unused), sourceFile(nullptr), functionName(nullptr), line(0)
{
    // Without a service the record stays inert, even if one appears before
    // the record is destroyed.
    if (Logger::Exists()) {
        this->level = level;
        this->sourceFile = sourceFile;
        this->functionName = functionName;
        this->line = line;
    }
}

LogRecord::~LogRecord()
{
    if (!Logger::Exists() || level == LogLevel::Unused)
        return;
    if (std::vector<KeptLogRecord>* into = captured()) {
        into->push_back(KeptLogRecord{level, sourceFile, functionName, line, text});
    } else {
        EnterLogLock();
        Logger::Instance().Write(level, functionName, text.c_str(), sourceFile, line);
        LeaveLogLock();
    }
}

LogRecord& LogRecord::operator<<(const char* value)
{
    if (value)
        appendWidened(text, value, std::char_traits<char>::length(value));
    return *this;
}

LogRecord& LogRecord::operator<<(const std::string& value)
{
    appendWidened(text, value.data(), value.size());
    return *this;
}

LogRecord& LogRecord::operator<<(const wchar_t* value)
{
    if (value)
        text += value;
    return *this;
}

LogRecord& LogRecord::operator<<(const std::wstring& value)
{
    text += value;
    return *this;
}

LogRecord& LogRecord::operator<<(int32_t value)
{
    wchar_t buffer[32];
    _snwprintf(buffer, 32, L"%d", static_cast<int>(value));
    buffer[31] = L'\0';
    text += buffer;
    return *this;
}

LogRecord& LogRecord::operator<<(uint32_t value)
{
    wchar_t buffer[32];
    _snwprintf(buffer, 32, L"%u", static_cast<unsigned>(value));
    buffer[31] = L'\0';
    text += buffer;
    return *this;
}
