#pragma once
#ifdef _WIN32
#include <string>

// A command-line path (in the process's ANSI code page, as main() receives it)
// as the wide string that the W file APIs take.
std::wstring widePath(const std::string& path);
#endif
