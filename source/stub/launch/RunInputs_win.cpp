#include "RunInputs_win.h"

#include <windows.h>

#include <cwchar>

#include "Owned_win.h"
#include "TextSearch.h"

namespace {

const DWORD kClientPathChars = 1024;
// One byte short of the buffer: a value of 511 characters or more with its
// terminator does not fit and counts as missing.
const DWORD kClientPathBytes = 1023;

} // namespace

bool readClientPath(std::wstring& clientPath)
{
    RegistryKey key;
    // Always the 32-bit view: the one the 32-bit product reads anyway, and the
    // one a 64-bit build would otherwise miss.
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Norvik", 0, KEY_READ | KEY_WOW64_32KEY,
                      key.receive()) !=
        ERROR_SUCCESS)
        return false;
    wchar_t buffer[kClientPathChars] = {};
    DWORD size = kClientPathBytes;
    if (RegQueryValueExW(key.get(), L"ClientPath", nullptr, nullptr,
                         reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS)
        return false;
    // The data need not be terminated: stop at the first NUL or the end read.
    const size_t chars = size / sizeof(wchar_t);
    clientPath.assign(buffer, wcsnlen(buffer, chars));
    return true;
}

bool findSetupConfig(const std::wstring& exeFolder, std::wstring& configPath)
{
    const std::wstring candidate = exeFolder + L"\\Autorun\\vozedozav.json";
    if (GetFileAttributesW(candidate.c_str()) == INVALID_FILE_ATTRIBUTES)
        return false;
    configPath = candidate;
    return true;
}

void splitExePath(const std::wstring& path, std::wstring& folder, std::wstring& fileName)
{
    const size_t separator = path.find_last_of(L"/\\");
    if (separator == std::wstring::npos) {
        folder = path;
        fileName = path;
        return;
    }
    folder = path.substr(0, separator);
    fileName = path.substr(separator + 1);
}

bool isBetaFileName(const std::wstring& fileName)
{
    return findCaseInsensitive(fileName, L"BOI") >= 0 || findCaseInsensitive(fileName, L"Beta") >= 0;
}
