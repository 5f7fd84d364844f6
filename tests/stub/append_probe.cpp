// Runs appendOwnArguments on a vector that already holds two elements and
// writes the result, as {"argv": [...]}, to the file named by RECORD_RUN_OUTPUT.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "JsonWrite.h"
#include "Launch_win.h"

int main()
{
    wchar_t output[32768];
    const DWORD length = GetEnvironmentVariableW(L"RECORD_RUN_OUTPUT", output, 32768);
    if (length == 0 || length >= 32768)
        return 2;

    ArgumentVector arguments{L"existing one", L"existing two"};
    appendOwnArguments(arguments);

    const std::string content = "{\"argv\": " + json::quoteList(arguments) + "}\n";
    const std::wstring temporary = std::wstring(output) + L".partial";
    FILE* file = _wfopen(temporary.c_str(), L"wb");
    if (!file)
        return 1;
    fwrite(content.data(), 1, content.size(), file);
    fclose(file);
    return MoveFileExW(temporary.c_str(), output, MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
