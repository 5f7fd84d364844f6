#pragma once

// Grants the built-in Users group and Everyone full control of the file, so
// that the log stays writable whoever runs the next installer. Only a plain
// file (see isPlainFile) is changed; false for anything else.
bool SetLogFileAccess(const wchar_t* path);
