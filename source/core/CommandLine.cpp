#include "CommandLine.h"

std::wstring buildCommandLine(const ArgumentVector& arguments)
{
    std::wstring line;
    for (size_t i = 0; i < arguments.size(); ++i) {
        if (i != 0)
            line += L' ';
        line += L'"';
        size_t backslashes = 0;
        for (wchar_t c : arguments[i]) {
            if (c == L'\\') {
                line += c;
                ++backslashes;
            } else if (c == L'"') {
                line.append(backslashes + 1, L'\\');
                line += c;
                backslashes = 0;
            } else {
                line += c;
                backslashes = 0;
            }
        }
        // The closing quote follows: double the trailing run.
        line.append(backslashes, L'\\');
        line += L'"';
    }
    return line;
}
