#include "FileMapping_win.h"

#include <windows.h>

#include <vector>

namespace {

HANDLE handleOf(intptr_t value) { return reinterpret_cast<HANDLE>(value); }

FileMapError failure(FileMapStep step)
{
    return FileMapError{step, static_cast<uint32_t>(GetLastError())};
}

} // namespace

namespace fileplatform {

uint32_t viewGranularity()
{
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwAllocationGranularity ? info.dwAllocationGranularity : 65536u;
}

FileMapError open(const NativePath& path, FileMapHandles& handles, uint64_t& size)
{
    // Others may read, write or delete the file meanwhile, as they may while
    // the program runs from it.
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return failure(FileMapStep::Open);
    handles.file = reinterpret_cast<intptr_t>(file);
    LARGE_INTEGER length;
    if (!GetFileSizeEx(file, &length))
        return failure(FileMapStep::Size);
    size = static_cast<uint64_t>(length.QuadPart);
    // An empty file cannot be mapped, and holds nothing to view.
    if (size == 0)
        return FileMapError{};
    const HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (mapping == nullptr)
        return failure(FileMapStep::Map);
    handles.mapping = reinterpret_cast<intptr_t>(mapping);
    return FileMapError{};
}

const uint8_t* mapView(const FileMapHandles& handles, uint64_t offset, size_t length,
                       uint32_t& errorCode)
{
    const void* view = MapViewOfFile(handleOf(handles.mapping), FILE_MAP_READ,
                                     static_cast<DWORD>(offset >> 32),
                                     static_cast<DWORD>(offset), length);
    if (view == nullptr) {
        errorCode = static_cast<uint32_t>(GetLastError());
        return nullptr;
    }
    return static_cast<const uint8_t*>(view);
}

void unmapView(const uint8_t* view, size_t)
{
    UnmapViewOfFile(view);
}

void close(FileMapHandles& handles)
{
    if (handles.mapping != 0)
        CloseHandle(handleOf(handles.mapping));
    if (handleOf(handles.file) != INVALID_HANDLE_VALUE)
        CloseHandle(handleOf(handles.file));
    handles = FileMapHandles();
}

} // namespace fileplatform

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
