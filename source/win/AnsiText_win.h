#pragma once
#include <string>

// Text in the process's ANSI code page (a command-line argument as main()
// receives it, an entry name the stub takes as such) as the wide string that
// the W APIs take. Empty when it cannot be converted.
std::wstring ansiToWide(const std::string& text);

// The same for text in any code page (CP_UTF8 for names marked UTF-8).
std::wstring codePageToWide(const std::string& text, unsigned codePage);
