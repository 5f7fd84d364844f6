// Holds a file open as a virus scanner does right after it was written:
// reading, sharing reading only, so that nobody can replace or delete it.
//   hold_file <path> <milliseconds> <ready file>
// Creates <ready file> once the file is held, then waits and lets go.
// Exit code 0, or 1 when the file could not be opened.
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 4)
        return 2;
    HANDLE held = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    if (held == INVALID_HANDLE_VALUE)
        return 1;
    HANDLE ready = CreateFileW(argv[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (ready != INVALID_HANDLE_VALUE)
        CloseHandle(ready);
    Sleep(static_cast<DWORD>(wcstoul(argv[2], nullptr, 10)));
    CloseHandle(held);
    return 0;
}
