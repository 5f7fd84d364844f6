#pragma once

// Writes the command line to the log: whole at Debug level, and at Event level
// without any word that holds "token" or "persona" (credentials must not reach
// a world-readable log).
namespace LoggerFilter {
void DumpCommandLineToLog(const char* label, const wchar_t* commandLine);
}

// True when `word` occurs in `text`, only A to Z compared without case.
bool ContainsNoCase(const wchar_t* text, const wchar_t* word);
