#include "TemporaryName_win.h"

#include <cwchar>

namespace {

bool isHexDigit(wchar_t c)
{
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f');
}

bool isDecimalDigit(wchar_t c)
{
    return c >= L'0' && c <= L'9';
}

} // namespace

std::wstring temporaryName(const std::wstring& path, uint32_t processId, unsigned n)
{
    wchar_t suffix[32];
    if (n == 0)
        _snwprintf(suffix, 32, L".~%lx", static_cast<unsigned long>(processId));
    else
        _snwprintf(suffix, 32, L".~%lx-%u", static_cast<unsigned long>(processId), n);
    suffix[31] = L'\0';
    return path + suffix;
}

size_t temporarySuffixLength(const std::wstring& name)
{
    const size_t mark = name.rfind(L".~");
    if (mark == std::wstring::npos)
        return 0;
    size_t i = mark + 2;
    const size_t hexStart = i;
    while (i < name.size() && isHexDigit(name[i]))
        ++i;
    if (i == hexStart)
        return 0;
    if (i < name.size() && name[i] == L'-') {
        const size_t countStart = ++i;
        while (i < name.size() && isDecimalDigit(name[i]))
            ++i;
        if (i == countStart)
            return 0;
    }
    return i == name.size() ? name.size() - mark : 0;
}
