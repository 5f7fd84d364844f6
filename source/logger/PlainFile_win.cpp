#include "PlainFile_win.h"

#include <string>
#include <vector>

namespace {

// The name the file system knows the object by, links resolved; empty when
// it cannot tell.
std::wstring finalPath(HANDLE object)
{
    const DWORD needed = GetFinalPathNameByHandleW(object, nullptr, 0, FILE_NAME_NORMALIZED);
    if (needed == 0)
        return std::wstring();
    std::vector<wchar_t> buffer(needed);
    const DWORD length =
        GetFinalPathNameByHandleW(object, buffer.data(), needed, FILE_NAME_NORMALIZED);
    return length == 0 || length >= needed ? std::wstring() : std::wstring(buffer.data(), length);
}

bool isSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

// True unless the file's own name differs from the one it was opened by, as
// seen from its folder: the file is then reached through a link. Links in the
// folder part (a redirected profile) do not count.
bool reachedByItsOwnName(HANDLE file, const std::wstring& path)
{
    size_t separator = path.size();
    while (separator > 0 && !isSeparator(path[separator - 1]))
        --separator;
    if (separator == path.size())
        return false;
    const std::wstring name = path.substr(separator);
    const std::wstring folderPath = separator == 0 ? L"." : path.substr(0, separator);
    UniqueHandle folder(CreateFileW(folderPath.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (folder.get() == INVALID_HANDLE_VALUE)
        return false;
    const std::wstring fileName = finalPath(file);
    std::wstring expected = finalPath(folder.get());
    // Where the platform cannot name them, the handle's own facts stand alone.
    if (fileName.empty() || expected.empty())
        return true;
    if (!isSeparator(expected.back()))
        expected += L'\\';
    expected += name;
    return CompareStringOrdinal(fileName.c_str(), -1, expected.c_str(), -1, TRUE) == CSTR_EQUAL;
}

} // namespace

bool isPlainFile(HANDLE file, const wchar_t* path)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!path || !GetFileInformationByHandle(file, &info))
        return false;
    if (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))
        return false;
    if (info.nNumberOfLinks != 1)
        return false;
    // Wine shows a Unix symbolic link as the file it names and follows it even
    // when asked not to; its resolved name gives it away.
    return reachedByItsOwnName(file, path);
}

HANDLE openPlainFile(const wchar_t* path, bool truncate)
{
    if (!path || !*path)
        return INVALID_HANDLE_VALUE;
    const DWORD access = GENERIC_READ | GENERIC_WRITE;
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    // Open or create in two steps: OPEN_ALWAYS would create the missing
    // target of a dangling link, where CREATE_NEW fails on the link itself.
    HANDLE file = CreateFileW(path, access, share, nullptr, OPEN_EXISTING, flags, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND)
        file = CreateFileW(path, access, share, nullptr, CREATE_NEW, flags, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return file;
    // A fresh handle stands at offset 0, where SetEndOfFile cuts.
    if (!isPlainFile(file, path) || (truncate && !SetEndOfFile(file))) {
        CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}
