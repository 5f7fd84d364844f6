// The test inner setup: records how it was started and exits 0.
// Writes, as UTF-8 JSON, to the file named by RECORD_RUN_OUTPUT (or
// record_run.json beside its own exe):
//   {"raw": GetCommandLineW(), "argv": [CommandLineToArgvW split],
//    "crt_argv": [the C runtime's split], "cwd": current directory,
//    "exe": own module path}
// With RECORD_RUN_LIST_FILES set it adds "files": ["<name>\t<size in bytes>",
// ...], the files of its current directory as it found them on starting.
// The file appears whole: it is written under a temporary name and renamed.
// With RECORD_RUN_STAY_MS set it keeps running that long after recording, as
// a real inner setup does while the user goes through it.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "JsonWrite.h"

namespace {

std::wstring modulePath()
{
    std::vector<wchar_t> buffer(260);
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(),
                                                static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return std::wstring();
        if (length < buffer.size())
            return std::wstring(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring currentDirectory()
{
    const DWORD needed = GetCurrentDirectoryW(0, nullptr);
    if (needed == 0)
        return std::wstring();
    std::vector<wchar_t> buffer(needed);
    const DWORD length = GetCurrentDirectoryW(needed, buffer.data());
    return std::wstring(buffer.data(), length < needed ? length : 0);
}

std::wstring environmentValue(const wchar_t* name)
{
    const DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
    if (needed == 0)
        return std::wstring();
    std::vector<wchar_t> buffer(needed);
    const DWORD length = GetEnvironmentVariableW(name, buffer.data(), needed);
    return std::wstring(buffer.data(), length < needed ? length : 0);
}

std::vector<std::wstring> shellSplit(const wchar_t* line)
{
    std::vector<std::wstring> out;
    int count = 0;
    if (LPWSTR* split = CommandLineToArgvW(line, &count)) {
        for (int i = 0; i < count; ++i)
            out.emplace_back(split[i]);
        LocalFree(split);
    }
    return out;
}

// Name and size of every file (not folder) directly in the current directory.
std::vector<std::wstring> filesHere()
{
    std::vector<std::wstring> out;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(L"*", &found);
    if (search == INVALID_HANDLE_VALUE)
        return out;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        const unsigned long long size =
            (static_cast<unsigned long long>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        out.push_back(std::wstring(found.cFileName) + L"\t" + std::to_wstring(size));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return out;
}

bool writeWhole(const std::wstring& path, const std::string& content)
{
    const std::wstring temporary = path + L".partial";
    FILE* file = _wfopen(temporary.c_str(), L"wb");
    if (!file)
        return false;
    const bool written = fwrite(content.data(), 1, content.size(), file) == content.size();
    if (fclose(file) != 0 || !written)
        return false;
    return MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    // First, before anything else could change them.
    const bool listFiles = !environmentValue(L"RECORD_RUN_LIST_FILES").empty();
    const std::vector<std::wstring> files = listFiles ? filesHere() : std::vector<std::wstring>();
    const std::wstring exe = modulePath();
    std::wstring output = environmentValue(L"RECORD_RUN_OUTPUT");
    if (output.empty()) {
        const size_t slash = exe.find_last_of(L"\\/");
        output = (slash == std::wstring::npos ? std::wstring() : exe.substr(0, slash + 1)) +
                 L"record_run.json";
    }

    const wchar_t* raw = GetCommandLineW();
    std::vector<std::wstring> crtArgv;
    wchar_t** crtSplit = __wargv ? __wargv : argv;
    const int crtCount = __wargv ? __argc : argc;
    for (int i = 0; i < crtCount; ++i)
        crtArgv.emplace_back(crtSplit[i]);

    std::string content = "{\"raw\": " + json::quote(raw ? raw : L"");
    content += ", \"argv\": " + json::quoteList(shellSplit(raw));
    content += ", \"crt_argv\": " + json::quoteList(crtArgv);
    content += ", \"cwd\": " + json::quote(currentDirectory());
    content += ", \"exe\": " + json::quote(exe);
    if (listFiles)
        content += ", \"files\": " + json::quoteList(files);
    content += "}\n";
    const bool written = writeWhole(output, content);
    const std::wstring stay = environmentValue(L"RECORD_RUN_STAY_MS");
    if (!stay.empty())
        Sleep(static_cast<DWORD>(wcstoul(stay.c_str(), nullptr, 10)));
    return written ? 0 : 1;
}
