#include "OsGate_win.h"
#include "RefusalText_win.h"
#include "../../../resources/resource.h"

#include <windows.h>

#include <cwchar>

const wchar_t kRefusalFallbackTitle[] = L"Unable to Install Norvik";
const wchar_t kRefusalFallbackText[] =
    L"Norvik can only be installed on computers running Windows 7 or later. "
    L"You'll need to upgrade your operating system before trying again.";

bool isOsVersionOrGreater(uint16_t major, uint16_t minor, uint16_t servicePackMajor)
{
    OSVERSIONINFOEXW wanted;
    ZeroMemory(&wanted, sizeof(wanted));
    wanted.dwOSVersionInfoSize = sizeof(wanted);
    wanted.dwMajorVersion = major;
    wanted.dwMinorVersion = minor;
    wanted.wServicePackMajor = servicePackMajor;

    // The system compares the three as one ordered version, major first, so
    // 6.2 with no service pack passes a 6.1 test.
    DWORDLONG conditions = 0;
    conditions = VerSetConditionMask(conditions, VER_MAJORVERSION, VER_GREATER_EQUAL);
    conditions = VerSetConditionMask(conditions, VER_MINORVERSION, VER_GREATER_EQUAL);
    conditions = VerSetConditionMask(conditions, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);

    // A failing call counts as "too old".
    return VerifyVersionInfoW(&wanted, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR,
                              conditions) != FALSE;
}

static void loadOrFallback(HINSTANCE module, UINT id, wchar_t* buffer, const wchar_t* fallback)
{
    if (LoadStringW(module, id, buffer, RefusalText::kBufferLength) > 0)
        return;
    // The built-in texts are far shorter than the buffer.
    wcsncpy(buffer, fallback, RefusalText::kBufferLength - 1);
    buffer[RefusalText::kBufferLength - 1] = L'\0';
}

void loadRefusalText(HINSTANCE module, RefusalText& out)
{
    loadOrFallback(module, IDS_REFUSAL_TITLE, out.title, kRefusalFallbackTitle);
    loadOrFallback(module, IDS_REFUSAL_TEXT, out.text, kRefusalFallbackText);
}

void showRefusalMessage()
{
    // The resource loader picks the user's interface language.
    RefusalText refusal;
    loadRefusalText(nullptr, refusal);
    MessageBoxW(nullptr, refusal.text, refusal.title, MB_ICONERROR | MB_OK);
}
