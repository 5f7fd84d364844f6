#pragma once
#include <cstdint>
#include <string>

class WorkAreaLock;

// The wrapper's own version: it names the per-version work area.
extern const char* const kWrapperVersion;

// Local application data (made when missing) + "\Norvik\VozeDozav\" +
// version, no trailing separator. False, leaving `path` alone, when the
// folder lookup fails.
bool getWorkAreaPath(std::wstring& path);

// Creates every folder along `path` ('/' and '\' both separate), and the last
// component too when `includeLast` is set. Folders that cannot be created are
// passed over; false only when the path has 1,024 characters or more. Deep
// folders are made by their \\?\ form, past the classic path limit.
bool createDirectories(const std::wstring& path, bool includeLast);
// The same, and `folderError` tells the system's error for the first folder
// that is not there afterwards (0 when all are), for the log.
bool createDirectories(const std::wstring& path, bool includeLast, uint32_t& folderError);

// Takes `lock` for the work area (waiting while another run holds it), makes
// the work area, starts the log in it and makes it the current directory.
// True exactly when the current directory is the work area. The caller keeps
// the lock until its program is started.
bool prepareWorkArea(WorkAreaLock& lock);
