#include "LongPath_win.h"

#include <windows.h>

namespace {

bool hasPrefix(const std::wstring& text, const wchar_t* prefix)
{
    return text.compare(0, std::char_traits<wchar_t>::length(prefix), prefix) == 0;
}

// GetFullPathNameW also turns '/' into '\', which a prefixed path must not hold.
std::wstring fullPath(const std::wstring& path)
{
    const DWORD length = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (length == 0)
        return std::wstring();
    std::wstring full(length, L'\0');
    const DWORD written = GetFullPathNameW(path.c_str(), length, &full[0], nullptr);
    if (written == 0 || written >= length)
        return std::wstring();
    full.resize(written);
    return full;
}

} // namespace

std::wstring systemPath(const std::wstring& path, size_t limit)
{
    if (path.empty() || hasPrefix(path, L"\\\\?\\"))
        return path;
    const std::wstring full = fullPath(path);
    if (full.empty() || full.size() <= limit)
        return path;
    if (hasPrefix(full, L"\\\\"))
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}
