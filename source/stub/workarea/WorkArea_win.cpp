#include "WorkArea_win.h"

#include <windows.h>
#include <shlobj.h>

#include <vector>

#define LOG_SOURCE_FILE "DuzoRizedAroriva"
#include "LogRecord.h"
#include "LogService_win.h"
#include "LoggerFilter.h"
#include "LongPath_win.h"
#include "WorkAreaLock_win.h"
#include "WrapperVersion.h"

const char* const kWrapperVersion = WRAPPER_VERSION_STRING;

namespace {

const size_t kDirectoryBufferSize = 1024;

bool isSeparator(wchar_t c)
{
    return c == L'/' || c == L'\\';
}

} // namespace

bool getWorkAreaPath(std::wstring& path)
{
    wchar_t folder[MAX_PATH] = {};
    // A profile whose local application data folder is not made yet gets it
    // now, instead of a run without a work area and without a log.
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr,
                                SHGFP_TYPE_CURRENT, folder)))
        return false;
    path = folder;
    path += L"\\Norvik\\VozeDozav\\";
    for (const char* c = kWrapperVersion; *c != '\0'; ++c)
        path += static_cast<wchar_t>(*c);
    return true;
}

namespace {

// Makes one folder of the chain; the system's error when it is not there
// afterwards (0 when it is, made now or before).
uint32_t makeFolder(const wchar_t* path)
{
    const std::wstring target = systemPath(path, kFolderPathLimit);
    if (CreateDirectoryW(target.c_str(), nullptr))
        return 0;
    const DWORD error = GetLastError();
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return 0;
    return error;
}

} // namespace

bool createDirectories(const std::wstring& path, bool includeLast, uint32_t& folderError)
{
    folderError = 0;
    if (path.size() >= kDirectoryBufferSize)
        return false;
    std::vector<wchar_t> buffer(kDirectoryBufferSize, L'\0');
    path.copy(buffer.data(), path.size());

    // Creation results do not stop the walk: existing folders, a drive prefix
    // such as "C:" and an empty prefix simply fail and it goes on. The first
    // folder that is not there afterwards is told, for the log of a file that
    // then cannot be made. A folder deep in the work area goes by its long
    // (\\?\-prefixed) form, past the classic limit.
    auto make = [&folderError](const wchar_t* folder) {
        const uint32_t error = makeFolder(folder);
        if (folderError == 0)
            folderError = error;
    };
    size_t i = 0;
    for (; buffer[i] != L'\0'; ++i) {
        if (!isSeparator(buffer[i]))
            continue;
        buffer[i] = L'\0';
        if (i > 0 && buffer[i - 1] != L':')
            make(buffer.data());
        buffer[i] = L'\\';
    }
    if (includeLast && i > 0 && !isSeparator(buffer[i - 1]))
        make(buffer.data());
    return true;
}

bool createDirectories(const std::wstring& path, bool includeLast)
{
    uint32_t folderError = 0;
    return createDirectories(path, includeLast, folderError);
}

namespace {

void logLockWait(const WorkAreaLock& lock)
{
    if (!lock.waited())
        return;
    if (lock.held())
        LOG_RECORD(LogLevel::Event, "prepareWorkArea")
            << "Waited for another run in this work area: " << lock.waitedMs() << " ms.";
    else
        LOG_RECORD(LogLevel::Event, "prepareWorkArea")
            << "Stopped waiting for another run in this work area after " << lock.waitedMs()
            << " ms.";
}

} // namespace

bool prepareWorkArea(WorkAreaLock& lock)
{
    std::wstring workArea;
    if (!getWorkAreaPath(workArea))
        return false;
    // Before anything is made or written here, the log included.
    lock.acquire(workArea);
    if (!createDirectories(workArea, true))
        return false;

    const std::wstring logPath = workArea + L"\\DuzoRizedAroriva_Log";
    if (Logger::Instance().Init(logPath.c_str(), false)) {
        LOG_RECORD(LogLevel::Event, "prepareWorkArea") << "Version: " << kWrapperVersion;
        LoggerFilter::DumpCommandLineToLog("Cmdline Param", GetCommandLineW());
        logLockWait(lock);
    }
    return SetCurrentDirectoryW(workArea.c_str()) != FALSE;
}
