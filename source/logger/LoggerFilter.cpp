#include "LoggerFilter.h"

#include <cwchar>
#include <string>

#define LOG_SOURCE_FILE "logger/LogService_win"
#include "LogRecord.h"

namespace {

// Only A to Z fold: the C library's single-byte lower-casing in its default
// locale, applied to each UTF-16 unit without passing values above 0xFF to it.
std::wstring lowerAscii(const wchar_t* text)
{
    std::wstring out(text);
    for (wchar_t& unit : out)
        if (unit >= L'A' && unit <= L'Z')
            unit = static_cast<wchar_t>(unit - L'A' + L'a');
    return out;
}

bool isFiltered(const std::wstring& word)
{
    return ContainsNoCase(word.c_str(), L"token") || ContainsNoCase(word.c_str(), L"persona");
}

} // namespace

bool ContainsNoCase(const wchar_t* text, const wchar_t* word)
{
    if (!text || !word)
        return false;
    const std::wstring lowerText = lowerAscii(text);
    const std::wstring lowerWord = lowerAscii(word);
    return wcsstr(lowerText.c_str(), lowerWord.c_str()) != nullptr;
}

namespace LoggerFilter {

void DumpCommandLineToLog(const char* label, const wchar_t* commandLine)
{
    const std::wstring line = commandLine ? commandLine : L"";

    LOG_RECORD(LogLevel::Debug, "LoggerFilter::DumpCommandLineToLog")
        << "debug header=\"" << label << "\" cmdLine=\"" << line << "\"";

    // Words are separated by spaces only; a word holding a filter word goes
    // as a whole, the rest are joined with nothing between them.
    std::wstring kept;
    size_t start = line.find_first_not_of(L' ');
    while (start != std::wstring::npos) {
        const size_t end = line.find(L' ', start);
        const std::wstring word =
            line.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        if (!isFiltered(word))
            kept += word;
        start = end == std::wstring::npos ? end : line.find_first_not_of(L' ', end);
    }

    LOG_RECORD(LogLevel::Event, "LoggerFilter::DumpCommandLineToLog") << kept;
}

} // namespace LoggerFilter
