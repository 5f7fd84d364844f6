#include "StubResources.h"

std::wstring stubPathFromEnvironment()
{
    wchar_t buffer[4096];
    const DWORD length = GetEnvironmentVariableW(L"STUB_EXE", buffer, 4096);
    if (length == 0 || length >= 4096)
        return std::wstring();
    std::wstring path(buffer, length);
    if (path[0] == L'/')
        path = L"Z:" + path;
    for (wchar_t& c : path) {
        if (c == L'/')
            c = L'\\';
    }
    return path;
}

DataModule::DataModule(const std::wstring& path)
    : handle(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE))
{
}

DataModule::~DataModule()
{
    if (handle)
        FreeLibrary(handle);
}

std::vector<BYTE> resourceBytes(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language)
{
    HRSRC found = FindResourceExW(module, type, name, language);
    if (!found)
        return {};
    HGLOBAL loaded = LoadResource(module, found);
    const BYTE* bytes = static_cast<const BYTE*>(LockResource(loaded));
    if (!bytes)
        return {};
    return std::vector<BYTE>(bytes, bytes + SizeofResource(module, found));
}

std::vector<std::wstring> splitStringBlock(const std::vector<BYTE>& block)
{
    std::vector<std::wstring> strings;
    size_t at = 0;
    while (strings.size() < 16 && at + 2 <= block.size()) {
        const WORD length = block[at] | (block[at + 1] << 8);
        at += 2;
        std::wstring s;
        for (WORD i = 0; i < length && at + 2 <= block.size(); ++i, at += 2)
            s.push_back(static_cast<wchar_t>(block[at] | (block[at + 1] << 8)));
        strings.push_back(s);
    }
    return strings;
}

std::wstring stringInLanguage(HMODULE module, UINT id, WORD language)
{
    const std::vector<std::wstring> block = splitStringBlock(
        resourceBytes(module, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language));
    return id % 16 < block.size() ? block[id % 16] : std::wstring();
}
