// Stands in for signtool in the tool's tests: a signer that never ends and
// has started a program of its own, which holds its output pipe too.
//   stand_in_signer <any arguments>   starts "stand_in_signer grandchild",
//                                     writes "<its ID> <grandchild's ID>"
//                                     to %STAND_IN_LOG%, then hangs
//   stand_in_signer grandchild        hangs
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv)
{
    if (argc == 2 && std::wcscmp(argv[1], L"grandchild") == 0) {
        Sleep(120000);
        return 0;
    }
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    wchar_t line[MAX_PATH + 16];
    std::swprintf(line, MAX_PATH + 16, L"\"%ls\" grandchild", self);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION grandchild{};
    if (!CreateProcessW(nullptr, line, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &grandchild))
        return 1;
    const wchar_t* log = _wgetenv(L"STAND_IN_LOG");
    FILE* file = log != nullptr ? _wfopen(log, L"w") : nullptr;
    if (file != nullptr) {
        std::fprintf(file, "%lu %lu", GetCurrentProcessId(), grandchild.dwProcessId);
        std::fclose(file);
    }
    std::printf("signing, slowly\n");
    std::fflush(stdout);
    Sleep(120000);
    return 0;
}
