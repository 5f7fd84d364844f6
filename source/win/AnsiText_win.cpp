#include "AnsiText_win.h"

#include <windows.h>

std::wstring codePageToWide(const std::string& text, unsigned codePage)
{
    if (text.empty())
        return std::wstring();
    const int length =
        MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

std::wstring ansiToWide(const std::string& text)
{
    return codePageToWide(text, CP_ACP);
}
