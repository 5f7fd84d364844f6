#pragma once
#include <windows.h>

#include <string>
#include <vector>

// The built stub, from the STUB_EXE environment variable. CTest hands over a
// host path; under Wine a host path "/x/y" is the Windows path "Z:\x\y".
std::wstring stubPathFromEnvironment();

// Owns a module loaded as a data file (resources only, no code run).
struct DataModule {
    HMODULE handle;
    explicit DataModule(const std::wstring& path);
    ~DataModule();
    DataModule(const DataModule&) = delete;
    DataModule& operator=(const DataModule&) = delete;
};

// The bytes of one resource in exactly that language, empty when it is not there.
std::vector<BYTE> resourceBytes(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language);

// The 16 strings of a string-table block (each a 16-bit length and UTF-16 units).
std::vector<std::wstring> splitStringBlock(const std::vector<BYTE>& block);

// String `id` of the module in exactly that language, without the loader's
// fallback between languages; empty when missing.
std::wstring stringInLanguage(HMODULE module, UINT id, WORD language);
