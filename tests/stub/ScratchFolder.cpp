#include "ScratchFolder.h"

#include <shellapi.h>

#include <vector>

ScratchFolder::ScratchFolder()
{
    static unsigned made = 0;
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    root = std::wstring(temp) + L"stub_unit_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
           std::to_wstring(GetTickCount()) + L"_" + std::to_wstring(++made);
    CreateDirectoryW(root.c_str(), nullptr);
    std::vector<wchar_t> current(GetCurrentDirectoryW(0, nullptr) + 1);
    GetCurrentDirectoryW(static_cast<DWORD>(current.size()), current.data());
    previous = current.data();
    SetCurrentDirectoryW(root.c_str());
}

ScratchFolder::~ScratchFolder()
{
    SetCurrentDirectoryW(previous.c_str());
    std::wstring from = root;
    from.push_back(L'\0'); // the operation takes a list ended by an empty name
    SHFILEOPSTRUCTW operation = {};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.c_str();
    operation.fFlags = FOF_NO_UI;
    SHFileOperationW(&operation);
}

bool isFolder(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool isFile(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool writeFile(const std::wstring& path, const std::string& content)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written,
                              nullptr);
    CloseHandle(file);
    return ok && written == content.size();
}
