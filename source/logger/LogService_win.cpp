#include "LogService_win.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <fcntl.h>
#include <io.h>

#define LOG_SOURCE_FILE "logger/LogService_win"
#include "LogFileAccess_win.h"
#include "LogText.h"
#include "PlainFile_win.h"

namespace {

CRITICAL_SECTION logLock;
INIT_ONCE logLockOnce = INIT_ONCE_STATIC_INIT;

BOOL CALLBACK initializeLogLock(PINIT_ONCE, PVOID, PVOID*)
{
    InitializeCriticalSection(&logLock);
    return TRUE;
}

// Made at most once, however early or often it is asked for, so a record
// emitted before the run sequence created the lock still finds a valid one.
void ensureLogLock()
{
    InitOnceExecuteOnce(&logLockOnce, initializeLogLock, nullptr, nullptr);
}

Logger* logService = nullptr;

const uint32_t kLogSizeLimit = 0x100000;

const wchar_t kBanner[] =
    L"\n*************************\nNorvik VozeDozav Wrapper\n*************************\n\n";

std::wstring widen(const char* bytes)
{
    std::wstring out;
    if (bytes)
        for (; *bytes; ++bytes)
            out += static_cast<wchar_t>(static_cast<signed char>(*bytes));
    return out;
}

// The stream's position as the file's size in bytes; the old value when the
// stream cannot tell (ftell fails with -1).
uint32_t streamPosition(FILE* stream, uint32_t fallback)
{
    long position = ftell(stream);
    return position < 0 ? fallback : static_cast<uint32_t>(position);
}

// A text-mode stream over the log, or null when it is no plain file (see
// isPlainFile). Opened by handle, so the stream is the very file checked:
// "a+" appends; "w+" (with `truncate`) writes at the stream's position.
FILE* openLogStream(const std::wstring& path, bool truncate)
{
    HANDLE file = openPlainFile(path.c_str(), truncate);
    if (file == INVALID_HANDLE_VALUE)
        return nullptr;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file),
                                   truncate ? _O_TEXT : _O_TEXT | _O_APPEND);
    if (fd == -1) {
        CloseHandle(file);
        return nullptr;
    }
    FILE* stream = _wfdopen(fd, truncate ? L"w+" : L"a+");
    if (!stream)
        _close(fd);
    return stream;
}

} // namespace

struct Logger::LogEntry {
    LogLevel level;
    int64_t time;
    std::wstring functionName;
    std::wstring text;
    int32_t sequence;
};

void InitLogLock()
{
    ensureLogLock();
}

void EnterLogLock()
{
    ensureLogLock();
    EnterCriticalSection(&logLock);
}

void LeaveLogLock()
{
    ensureLogLock();
    LeaveCriticalSection(&logLock);
}

Logger& Logger::Instance()
{
    EnterLogLock();
    if (!logService)
        logService = new Logger();
    LeaveLogLock();
    return *logService;
}

bool Logger::Exists()
{
    return logService != nullptr;
}

const wchar_t* Logger::LevelName(LogLevel level)
{
    switch (level) {
    case LogLevel::Unused: return L"UNUSED";
    case LogLevel::Error: return L"Error";
    case LogLevel::Warning: return L"Warning";
    case LogLevel::Debug: return L"Debug";
    case LogLevel::Help: return L"Help";
    case LogLevel::Event: return L"Event";
    case LogLevel::Action: return L"Action";
    }
    return L"";
}

bool Logger::Init(const wchar_t* path, bool enableDebug)
{
    if (opened)
        return false;
    const std::wstring givenPath = path ? path : L"";

    if (!givenPath.empty()) {
        const size_t lastBackslash = givenPath.rfind(L'\\');
        const std::wstring folder =
            lastBackslash == std::wstring::npos ? givenPath : givenPath.substr(0, lastBackslash);
        // A folder that stays missing makes the open below fail.
        if (!folder.empty() && !PathFileExistsW(folder.c_str()))
            SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    }

    opened = OpenLogFile(path);

    Write(LogLevel::Event, "Logger::Init", (L"LogFile: " + givenPath).c_str(), LOG_SOURCE_FILE,
          __LINE__);
    Write(LogLevel::Event, "Logger::Init", CurrentDateTimeString().c_str(), LOG_SOURCE_FILE,
          __LINE__);

    // Only now: the two records above are Events and must not depend on it.
    debugEnabled = enableDebug;
    return opened;
}

bool Logger::OpenLogFile(const wchar_t* path)
{
    if (!path || !*path)
        return false;
    logPath = path;
    logPath += L".txt";

    logStream = openLogStream(logPath, false);
    if (!logStream)
        return false;

    SetLogFileAccess(logPath.c_str());

    fseek(logStream, 0, SEEK_END);
    logSize = streamPosition(logStream, 0);
    return true;
}

bool Logger::Write(LogLevel level, const char* functionName, const wchar_t* text,
                   const char* sourceFile, int32_t line)
{
    (void)sourceFile;
    (void)line;
    EnterLogLock();
    const bool filtered =
        (level == LogLevel::Debug || level == LogLevel::Help) && !debugEnabled;
    if (!filtered && opened) {
        LogEntry entry;
        entry.sequence = sequence;
        entry.level = level;
        // Callers always pass both; a null one is taken as empty rather than
        // read through.
        entry.functionName = widen(functionName);
        entry.text = text ? text : L"";
        entry.time = static_cast<int64_t>(time(nullptr));

        // Unsigned arithmetic: wrapping after 2^31 records is defined.
        sequence = static_cast<int32_t>(static_cast<uint32_t>(sequence) + 1u);
        WriteLine(entry);
        if (logSize > kLogSizeLimit)
            TrimLogFile();
    }
    LeaveLogLock();
    return opened;
}

std::wstring Logger::FormatLine(const LogEntry& entry) const
{
    std::wstring line;
    if (entry.sequence == 0)
        line += kBanner;

    wchar_t number[32];
    _snwprintf(number, 32, L"%d:\t", static_cast<int>(entry.sequence));
    number[31] = L'\0';
    line += number;

    wchar_t stamp[256];
    stamp[0] = L'\0';
    const time_t when = static_cast<time_t>(entry.time);
    if (const struct tm* local = localtime(&when)) {
        if (wcsftime(stamp, 256, L"[%b %d %H:%M:%S] ", local) == 0)
            stamp[0] = L'\0';
    }
    line += stamp;

    line += LevelName(entry.level);
    line += L'\t';
    line += entry.text;
    return line;
}

void Logger::WriteLine(const LogEntry& entry)
{
    if (!logStream)
        return;
    const std::wstring wide = FormatLine(entry);

    const std::string narrow = narrowLogText(wide);
    fwrite(narrow.data(), 1, narrow.size(), logStream);
    fputc('\n', logStream);
    fflush(logStream);
    logSize = streamPosition(logStream, logSize);
}

namespace {

// Owns the cut's read buffer.
struct ReadBuffer {
    explicit ReadBuffer(size_t size) : data(static_cast<char*>(malloc(size))) {}
    ~ReadBuffer() { free(data); }
    ReadBuffer(const ReadBuffer&) = delete;
    ReadBuffer& operator=(const ReadBuffer&) = delete;
    char* data;
};

// Reads the whole file as text: CR LF becomes LF, as text mode would give it.
// The read itself is binary so that a byte 0x1A (the low byte of U+041A and
// others, common in Cyrillic user names) does not end it: text mode takes that
// byte for the end of the file and the newest lines would be lost.
size_t readAsText(FILE* stream, char* buffer, size_t byteCount)
{
    const int fd = _fileno(stream);
    const int previousMode = _setmode(fd, _O_BINARY);
    const size_t bytes = fread(buffer, 1, byteCount, stream);
    if (feof(stream) || ferror(stream))
        clearerr(stream);
    if (previousMode != -1)
        _setmode(fd, previousMode);

    size_t characters = 0;
    for (size_t i = 0; i < bytes; ++i) {
        if (buffer[i] == '\r' && i + 1 < bytes && buffer[i + 1] == '\n')
            continue;
        buffer[characters++] = buffer[i];
    }
    return characters;
}

} // namespace

void Logger::TrimLogFile()
{
    if (!logStream)
        return;
    fflush(logStream);
    fseek(logStream, 0, SEEK_END);
    const long end = ftell(logStream);
    fseek(logStream, 0, SEEK_SET);
    if (end <= 0)
        return;
    const size_t byteCount = static_cast<size_t>(end);

    // Without memory there is no cut this time; the next line tries again.
    ReadBuffer buffer(byteCount + 1);
    if (!buffer.data)
        return;
    const size_t read = readAsText(logStream, buffer.data, byteCount);
    if (read == 0) {
        // Nothing could be read: cutting now would throw the whole log away.
        fseek(logStream, 0, SEEK_END);
        return;
    }

    // 64-bit product: a file far past the limit (grown by another writer)
    // would overflow 32 bits.
    size_t target = static_cast<size_t>(static_cast<uint64_t>(logSize) * 85 / 100);
    // Fewer characters than the target (very short lines): aim at 85 % of what
    // was read instead, so the file still shrinks and the cut stays inside the
    // buffer.
    if (target > read)
        target = read * 85 / 100;

    // Start at a line end so the file keeps whole lines; the block begins with
    // that line feed, which leaves an empty first line.
    const size_t cut = read - target;
    size_t keepFrom = cut;
    for (size_t i = cut; i < target; ++i) {
        if (buffer.data[i] == '\n') {
            keepFrom = i;
            break;
        }
    }
    const size_t keepCount = read - keepFrom;

    fclose(logStream);
    logStream = openLogStream(logPath, true);
    if (!logStream) {
        // The file is gone from under us, or no longer a plain file: nothing
        // more is written this run.
        logSize = 0;
        return;
    }
    fwrite(buffer.data + keepFrom, 1, keepCount, logStream);
    fflush(logStream);
    fseek(logStream, 0, SEEK_END);
    logSize = streamPosition(logStream, 0);
}

std::wstring CurrentDateTimeString()
{
    char buffer[100];
    buffer[0] = '\0';
    const time_t now = time(nullptr);
    if (const struct tm* local = localtime(&now)) {
        if (strftime(buffer, sizeof(buffer), "%c", local) == 0)
            buffer[0] = '\0';
    }
    std::wstring text = widen(buffer);
    const size_t lineFeed = text.find(L'\n');
    if (lineFeed != std::wstring::npos)
        text.erase(lineFeed);
    return text;
}
