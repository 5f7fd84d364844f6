#pragma once

// Grants the built-in Users group and Everyone full control of the file, so
// that the log stays writable whoever runs the next installer.
bool SetLogFileAccess(const wchar_t* path);
