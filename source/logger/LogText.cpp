#include "LogText.h"

namespace {

bool isHighSurrogate(wchar_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool isLowSurrogate(wchar_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

} // namespace

std::string narrowLogText(const std::wstring& wide)
{
    std::string narrow;
    narrow.reserve(wide.size());
    for (size_t i = 0; i < wide.size(); ++i) {
        const wchar_t unit = wide[i];
        if (unit == L'\0')
            continue;
        if (unit <= 0xFF || unit >= 0xFF80) {
            narrow += static_cast<char>(unit & 0xFF);
            continue;
        }
        if (isHighSurrogate(unit) && i + 1 < wide.size() && isLowSurrogate(wide[i + 1]))
            ++i;
        narrow += '?';
    }
    return narrow;
}
