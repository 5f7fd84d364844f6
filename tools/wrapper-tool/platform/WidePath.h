#pragma once
#ifdef _WIN32
#include <string>

#include "AnsiText_win.h"

// A command-line path (in the process's ANSI code page, as main() receives it)
// as the wide string that the W file APIs take.
inline std::wstring widePath(const std::string& path)
{
    return ansiToWide(path);
}
#endif
