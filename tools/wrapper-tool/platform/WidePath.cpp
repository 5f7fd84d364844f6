#ifdef _WIN32
#include "platform/WidePath.h"

#include <windows.h>

std::wstring widePath(const std::string& path)
{
    if (path.empty())
        return std::wstring();
    int length = MultiByteToWideChar(CP_ACP, 0, path.data(), int(path.size()), nullptr, 0);
    std::wstring wide(size_t(length > 0 ? length : 0), L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_ACP, 0, path.data(), int(path.size()), &wide[0], length);
    return wide;
}
#endif
