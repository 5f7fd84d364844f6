#include "EntryFolders_win.h"

#include <windows.h>

#include "EntryPlace_win.h"
#include "LongPath_win.h"

#define LOG_SOURCE_FILE "DuzoRizedAroriva"
#include "LogRecord.h"

namespace {

bool isSeparator(wchar_t c)
{
    return c == L'/' || c == L'\\';
}

} // namespace

uint32_t EntryFolders::make(const std::wstring& path, bool includeLast)
{
    uint32_t first = 0;
    const size_t end = includeLast ? path.size() + 1 : path.size();
    for (size_t i = 1; i < end; ++i) {
        if (i < path.size() && !isSeparator(path[i]))
            continue;
        if (isSeparator(path[i - 1]))
            continue;
        const std::wstring folder = path.substr(0, i);
        const std::wstring key = FoldedNameSet::fold(folder);
        const uint32_t* known = made.find(key);
        bool isNew = false;
        const uint32_t error = known != nullptr ? *known : makeOne(folder, isNew);
        if (known == nullptr)
            made.insert(key, error);
        if (isNew)
            fresh.insert(key);
        if (first == 0)
            first = error;
    }
    return first;
}

// Attributes are asked for only when the folder could not be made: they tell
// a folder already there from a file in its place.
uint32_t EntryFolders::makeOne(const std::wstring& folder, bool& isNew)
{
    const std::wstring target = systemPath(folder, kFolderPathLimit);
    if (CreateDirectoryW(target.c_str(), nullptr)) {
        isNew = true;
        return 0;
    }
    const DWORD error = GetLastError();
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return error;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return 0;
    std::wstring aside;
    if (moveAside(folder, aside) != 0)
        return error;
    LOG_RECORD(LogLevel::Event, "unpackEmbeddedZip")
        << "Moved a file out of the way of a folder: " << folder << " -> " << aside;
    if (!CreateDirectoryW(target.c_str(), nullptr))
        return GetLastError();
    isNew = true;
    return 0;
}

bool EntryFolders::holderIsNew(const std::wstring& path) const
{
    size_t end = path.size();
    while (end > 0 && !isSeparator(path[end - 1]))
        --end;
    while (end > 0 && isSeparator(path[end - 1]))
        --end;
    return end > 0 && fresh.find(FoldedNameSet::fold(path.substr(0, end))) != nullptr;
}
