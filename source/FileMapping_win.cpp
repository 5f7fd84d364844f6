#include "FileMapping_win.h"

#include <vector>

FileMapping::FileMapping(const std::wstring& path)
{
    fileHandle = CreateFileW(path.c_str(), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (fileHandle == INVALID_HANDLE_VALUE)
        return;
    LARGE_INTEGER length;
    if (!GetFileSizeEx(fileHandle, &length))
        return;
    fileSize = length.QuadPart;
    // An empty file cannot be mapped; that is left to fail here.
    mappingHandle = CreateFileMappingW(fileHandle, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (mappingHandle == nullptr)
        return;
    view = static_cast<const uint8_t*>(MapViewOfFile(mappingHandle, FILE_MAP_READ, 0, 0, 0));
}

FileMapping::~FileMapping()
{
    if (view != nullptr)
        UnmapViewOfFile(view);
    if (mappingHandle != nullptr)
        CloseHandle(mappingHandle);
    if (fileHandle != INVALID_HANDLE_VALUE)
        CloseHandle(fileHandle);
}

std::wstring getModulePath()
{
    // A cut path would name some other file or folder, so the buffer grows
    // until the whole path fits (the platform's longest path is 32,767).
    for (DWORD capacity = 1024; capacity <= 32768; capacity *= 2) {
        std::vector<wchar_t> buffer(capacity);
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), capacity);
        if (length == 0)
            return std::wstring();
        if (length < capacity)
            return std::wstring(buffer.data(), length);
    }
    return std::wstring();
}
